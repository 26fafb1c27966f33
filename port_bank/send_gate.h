#pragma once

#include <QString>
#include <QStringList>

// Holds every broadcast while a status check waits for its answers. A command handed to the
// broadcast meanwhile (a press of a preset button) is kept and sent, in order, once the gate
// opens; the sweeps do not build commands while it is held (the timed sweep skips its tick, the
// fast sweep waits in its yield), so they resume where they stood.
class SendGate {
public:
    bool isHeld() const { return held_; }
    void hold() { held_ = true; }
    // Opens the gate; returns the commands kept meanwhile, oldest first, for the caller to send.
    QStringList release();
    void defer(const QString& command) { deferred_.append(command); }

private:
    bool held_ = false;
    QStringList deferred_;
};
