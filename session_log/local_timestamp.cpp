#include "session_log/local_timestamp.h"

#include "session_log/local_clock.h"

#include <cstdio>
#include <ctime>

void LocalTimestamp::append(QByteArray& out, std::int64_t msSinceEpoch)
{
    // Floor division, so that a time before 1970 still has its milliseconds in 0..999.
    std::int64_t second = msSinceEpoch / 1000;
    int ms = static_cast<int>(msSinceEpoch % 1000);
    if (ms < 0) {
        ms += 1000;
        second -= 1;
    }
    if (second != second_) {
        const std::time_t t = static_cast<std::time_t>(second);
        std::tm local{};
        long offset = 0;
        if (!localCalendarTime(t, local, offset))
            local = std::tm{};
        secondLength_ = std::snprintf(
            secondText_, sizeof secondText_, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
            local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        second_ = second;
    }
    out.append(secondText_, secondLength_);
    const char milliseconds[4] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10),
                                  char('0' + ms % 10)};
    out.append(milliseconds, 4);
}

QByteArray LocalTimestamp::text(std::int64_t msSinceEpoch)
{
    QByteArray out;
    append(out, msSinceEpoch);
    return out;
}

std::int64_t wallClockMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QByteArray LocalTimestamp::textWithOffset(std::int64_t msSinceEpoch)
{
    QByteArray out = text(msSinceEpoch);
    std::int64_t second = msSinceEpoch / 1000;
    if (msSinceEpoch % 1000 < 0)
        --second;
    const std::time_t t = static_cast<std::time_t>(second);
    std::tm local{};
    long offset = 0;
    if (!localCalendarTime(t, local, offset))
        offset = 0;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[16];
    const int n = std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                                minutes / 60, minutes % 60);
    out.append(zone, n);
    return out;
}
