#include "port_bank/output_pacer.h"

bool OutputPacer::mustWait(const std::array<qint64, kPortCount>& pending, qint64 nowMs)
{
    bool wait = false;
    for (int i = 0; i < kPortCount; ++i) {
        const qint64 queued = pending[i];
        // Progress: the queue shrank, or is low enough that the port is keeping up.
        if (queued <= kLowWater || queued < lastPending_[i])
            lastProgressMs_[i] = nowMs;
        lastPending_[i] = queued;
        if (queued > kLowWater && nowMs - lastProgressMs_[i] < kStallMs)
            wait = true;
    }
    return wait;
}
