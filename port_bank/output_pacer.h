#pragma once

#include <QtGlobal>
#include <array>

// Paces a writer that sends back to back (the fast sweep) to the line rate of the ports: it
// waits while any open port has more output queued than a low-water mark, so that nothing is
// dropped on ports that drain. A port that has not drained at all for a while (a stuck device,
// a peer that never reads) stops holding the others back until it drains again.
class OutputPacer {
public:
    static constexpr int kPortCount = 16;
    static constexpr qint64 kLowWater = 1024; // bytes; keeps the line busy, memory small
    static constexpr qint64 kStallMs = 2000;  // no progress for this long: stop waiting for it
    static constexpr qint64 kClosed = -1;     // pending figure of a port that is not open

    // pending: bytes queued per port (kClosed for a closed port); nowMs: a monotonic clock.
    bool mustWait(const std::array<qint64, kPortCount>& pending, qint64 nowMs);

private:
    std::array<qint64, kPortCount> lastPending_{};
    std::array<qint64, kPortCount> lastProgressMs_{};
};
