#pragma once

#include <cstdint>

// The run's time axis, shared by every port's record: a fixed number of buckets from the run's
// start, each kFirstWidthMs wide at first. When a time falls past the last bucket the width
// doubles and each two neighbours become one, as often as needed, so the buckets always cover the
// whole run and their number never grows: between half of them and all of them are in use. The
// run page draws each port in half as many columns (one or two buckets each), so that its size
// is the same for an hour and a week: 32 columns, with every mark in every column of sixteen
// ports and every text at its longest, make a page of 1.2 MB.
class TimeAxis {
public:
    static constexpr int kBuckets = 64;
    static constexpr std::int64_t kFirstWidthMs = 1000;

    explicit TimeAxis(std::int64_t startMs) : startMs_(startMs) {}

    std::int64_t startMs() const { return startMs_; }
    std::int64_t widthMs() const { return widthMs_; }
    std::int64_t endMs() const { return startMs_ + widthMs_ * kBuckets; }

    // How many times the width must double for ms to fall inside the axis; the caller merges
    // its buckets that often, then calls widen() with the same number.
    int doublingsToReach(std::int64_t ms) const;
    void widen(int doublings) { widthMs_ <<= doublings; }

    // The bucket that holds ms (before the start: the first; past the end: the last).
    int bucketOf(std::int64_t ms) const;
    std::int64_t bucketStartMs(int bucket) const { return startMs_ + widthMs_ * bucket; }

private:
    std::int64_t startMs_;
    std::int64_t widthMs_ = kFirstWidthMs;
};
