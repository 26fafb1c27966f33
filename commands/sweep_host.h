#pragma once

#include <QString>

// What the two sweeps need of the window: its boxes, read afresh at every use, the broadcast,
// the fast sweep's run flag and the yield to pending window events. The window implements it;
// tests implement it with plain strings and a list of sent commands.
class SweepHost {
public:
    virtual ~SweepHost() = default;

    virtual QString prefixText() = 0;               // the timed sweep's command prefix
    virtual void setPrefixText(const QString&) = 0; // the fast sweep shows its command there
    virtual QString endCommandText() = 0;
    virtual QString startChannelText() = 0;
    virtual QString endChannelText() = 0;
    virtual void showChannel(const QString&) = 0;

    virtual void sendToAllPorts(const QString& command) = 0;

    virtual QString runFlag() = 0; // the fast-sweep button's tag
    virtual void setRunFlag(const QString&) = 0;

    // Processes pending window events (other handlers may run, nested clicks included).
    // Returns false once the program is ending: the fast sweep then stops sending.
    virtual bool yieldToWindow() = 0;
};
