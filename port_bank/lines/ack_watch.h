#pragma once

#include <QtGlobal>

// Tells a host that has vanished from a line that is only slow. A server whose line takes
// nothing closes its window but still answers every probe; a host that has gone answers
// nothing. The system's own limit (TCP_USER_TIMEOUT) cannot tell the two apart: it also ends a
// connection whose window has stayed closed, however promptly the probes are answered.
class AckWatch {
public:
    static constexpr qint64 kSilenceMs = 10000; // nothing acknowledged for this long: gone
    // The system must have been waiting this long without a break, so that a probe caught on
    // its way out of a long-closed window is not taken for one left unanswered.
    static constexpr qint64 kWaitingMs = 2000;

    // waiting: the system has sent something (data or a window probe) that is not yet
    // acknowledged; sinceAckMs: time since the last acknowledgement. True once the host is gone.
    bool gone(bool waiting, qint64 sinceAckMs, qint64 nowMs);
    void clear() { waitingSinceMs_ = -1; }

private:
    qint64 waitingSinceMs_ = -1;
};
