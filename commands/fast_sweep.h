#pragma once

#include <QString>
#include <cstdint>

class SweepHost;

// The fast sweep: sends 61-channel range commands back-to-back, yielding to the window between
// two of them, until its button is clicked again. Each range command is shown in the prefix box
// and sent as read back from there; past the end channel it sends the end command and starts
// over at the start channel.
//
// Clicks arrive inside the yield and re-enter click(): a click that switches the sweep off ends
// the running loop at its next test; one that switches it on again starts a nested loop, and
// only the innermost loop advances. All loops share one counter.
class FastSweep {
public:
    // clickFastSweep: flips the run flag and, if that switched the sweep on, runs the loop
    // until the flag is switched off or the program is ending.
    void click(SweepHost& host);

    std::int16_t fastChannel() const { return FastChannel; }

    // ":::::::::::::::::::ZAVB" m "-" m + 60 ".": channels m to m + 60 on, all others off.
    static QString rangeCommand(int firstChannel);

private:
    void fastStep(SweepHost& host);
    void wrap(SweepHost& host);

    // The channel of the last range command, or one below the start channel right after a
    // wrap. Kept across stop and start.
    std::int16_t FastChannel = 0;
    // Once the window reports that the program is ending, no loop, however nested, sends again.
    bool m_programEnding = false;
};
