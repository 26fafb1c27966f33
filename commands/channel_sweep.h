#pragma once

#include <QStringView>
#include <cstdint>

class SweepHost;

// The timed sweep: on every tick of the sweep timer it sends the prefix box's text, the next
// channel and ".", and once the channel passes the end channel the end command instead,
// setting the channel back so that the next tick sends the start channel. The boxes are read afresh
// at every step, so edits apply at the next tick.
class ChannelSweep {
public:
    // One tick of the sweep timer.
    void step(SweepHost& host);

    std::int16_t currentChannel() const { return CurrentChannel; }

    // The sweep interval box's interval in milliseconds for the sweep and opening-pass timers,
    // clamped to what a timer accepts; 0 means the timer does not tick.
    static int intervalFromText(QStringView text);

private:
    void sendChannel(SweepHost& host);
    void wrap(SweepHost& host);

    // The channel last sent, or one below the start channel right after a wrap. Kept across
    // stop and start, so a restarted sweep continues where it stood.
    std::int16_t CurrentChannel = 0;
};
