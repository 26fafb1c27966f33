#pragma once

#include <ctime>

// The local calendar time of t and its offset from UTC in seconds, in each platform's own form
// (local_clock_posix.cpp, local_clock_windows.cpp). False when the system cannot say.
bool localCalendarTime(std::time_t t, std::tm& local, long& offsetSeconds);
