#pragma once

#include <array>
#include <cstdint>

// Answer times of one port's status checks in a fixed set of counters, so that memory does not
// grow with the run: exact below 64 µs, above that 32 steps per doubling (within 3.2 % of the
// true value), up to 2^31 µs (about 36 minutes; longer times count there). The maximum is kept
// exactly. A percentile is the upper edge of the step that holds it, never above the maximum.
class AnswerHistogram {
public:
    static constexpr int kSubBits = 5;
    static constexpr int kSteps = 1 << kSubBits; // steps per doubling
    static constexpr int kMaxShift = 26;         // 2^(kMaxShift + kSubBits) µs is the top
    static constexpr int kCounters = 2 * kSteps + kMaxShift * kSteps;

    void add(std::int64_t micros);

    std::uint64_t count() const { return count_; }
    std::int64_t maxMicros() const { return max_; }
    // fraction in (0, 1]; 0 when nothing was added.
    std::int64_t percentileMicros(double fraction) const;

    // The counter a value falls into, and the largest value that counter holds.
    static int counterFor(std::int64_t micros);
    static std::int64_t upperEdge(int counter);

private:
    std::array<std::uint32_t, kCounters> counters_{};
    std::uint64_t count_ = 0;
    std::int64_t max_ = 0;
};
