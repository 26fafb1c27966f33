#pragma once

#include <QString>

// What the two sweeps need of the window: its boxes, read afresh at every use, the broadcast,
// the fast sweep's run flag and the yield to pending window events. The window implements it;
// tests implement it with plain strings and a list of sent commands.
class SweepHost {
public:
    virtual ~SweepHost() = default;

    virtual QString prefixText() = 0;               // Text2: timed sweep's command prefix
    virtual void setPrefixText(const QString&) = 0; // Text2: the fast sweep shows its command
    virtual QString endCommandText() = 0;           // Text3
    virtual QString startChannelText() = 0;         // Text6
    virtual QString endChannelText() = 0;           // Text7
    virtual void showChannel(const QString&) = 0;   // Text9

    virtual void sendToAllPorts(const QString& command) = 0;

    virtual QString runFlag() = 0; // Command6.Tag
    virtual void setRunFlag(const QString&) = 0;

    // Processes pending window events (other handlers may run, nested clicks included).
    // Returns false once the program is ending: the fast sweep then stops sending.
    virtual bool yieldToWindow() = 0;
};
