#include "port_bank/lines/ack_watch.h"

bool AckWatch::gone(bool waiting, qint64 sinceAckMs, qint64 nowMs)
{
    if (!waiting) {
        waitingSinceMs_ = -1;
        return false;
    }
    if (waitingSinceMs_ < 0)
        waitingSinceMs_ = nowMs;
    return nowMs - waitingSinceMs_ >= kWaitingMs && sinceAckMs >= kSilenceMs;
}
