#include "unattended_run/answer_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

int AnswerHistogram::counterFor(std::int64_t micros)
{
    constexpr std::uint64_t kTop = (std::uint64_t(1) << (kMaxShift + kSubBits + 1)) - 1;
    const std::uint64_t v =
        std::min<std::uint64_t>(std::uint64_t(std::max<std::int64_t>(micros, 0)), kTop);
    if (v < std::uint64_t(2 * kSteps))
        return int(v);
    const int highest = std::bit_width(v) - 1;
    const int shift = highest - kSubBits; // 1 and up
    const int step = int(v >> shift) - kSteps;
    return 2 * kSteps + (shift - 1) * kSteps + step;
}

std::int64_t AnswerHistogram::upperEdge(int counter)
{
    if (counter < 2 * kSteps)
        return counter;
    const int shift = (counter - 2 * kSteps) / kSteps + 1;
    const int step = (counter - 2 * kSteps) % kSteps + kSteps;
    return ((std::int64_t(step) + 1) << shift) - 1;
}

void AnswerHistogram::add(std::int64_t micros)
{
    const std::size_t counter = std::size_t(counterFor(micros));
    // A counter that is full stays full rather than wrapping to a small number.
    if (counters_[counter] != UINT32_MAX)
        ++counters_[counter];
    ++count_;
    max_ = std::max(max_, micros);
}

std::int64_t AnswerHistogram::percentileMicros(double fraction) const
{
    if (count_ == 0)
        return 0;
    const auto rank = std::uint64_t(std::max(1.0, std::ceil(fraction * double(count_))));
    std::uint64_t seen = 0;
    for (int i = 0; i < kCounters; ++i) {
        seen += counters_[std::size_t(i)];
        if (seen >= rank)
            return std::min(upperEdge(i), max_);
    }
    return max_;
}
