#include "session_log/local_clock.h"

bool localCalendarTime(std::time_t t, std::tm& local, long& offsetSeconds)
{
    if (::localtime_r(&t, &local) == nullptr)
        return false;
    offsetSeconds = local.tm_gmtoff;
    return true;
}
