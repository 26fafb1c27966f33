#pragma once

#include <QByteArray>
#include <cstdint>

// Local date and time with milliseconds, as log lines and the run report show them:
// "2026-12-07 09:30:00.123". The date and time of the second are kept between calls, as lines
// come many to the second. Not shared between threads.
class LocalTimestamp {
public:
    // msSinceEpoch: wall-clock milliseconds since 1970-01-01 UTC.
    void append(QByteArray& out, std::int64_t msSinceEpoch);
    QByteArray text(std::int64_t msSinceEpoch);
    // The same with the offset from UTC in force then: "2026-12-07 09:30:00.123+08:00".
    QByteArray textWithOffset(std::int64_t msSinceEpoch);

private:
    std::int64_t second_ = INT64_MIN;
    char secondText_[64] = {}; // "yyyy-MM-dd HH:mm:ss", room for any year
    int secondLength_ = 0;
};

// Milliseconds since the epoch, now, by the wall clock.
std::int64_t wallClockMs();
