#include "session_log/local_clock.h"

bool localCalendarTime(std::time_t t, std::tm& local, long& offsetSeconds)
{
    if (::localtime_s(&local, &t) != 0)
        return false;
    // The local fields read as if they were UTC, less the time itself: the offset then in force.
    std::tm asUtc = local;
    const std::time_t shifted = ::_mkgmtime(&asUtc);
    offsetSeconds = shifted == std::time_t(-1) ? 0 : long(shifted - t);
    return true;
}
