#include "unattended_run/time_axis.h"

#include <algorithm>

int TimeAxis::doublingsToReach(std::int64_t ms) const
{
    int doublings = 0;
    std::int64_t width = widthMs_;
    while (ms >= startMs_ + width * kBuckets) {
        width <<= 1;
        ++doublings;
    }
    return doublings;
}

int TimeAxis::bucketOf(std::int64_t ms) const
{
    if (ms <= startMs_)
        return 0;
    return int(std::min<std::int64_t>((ms - startMs_) / widthMs_, kBuckets - 1));
}
