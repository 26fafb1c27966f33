#pragma once

#include "unattended_run/answer_histogram.h"
#include "unattended_run/time_axis.h"
#include "unattended_run/timeline_bucket.h"

#include <QString>
#include <array>
#include <cstdint>

// What one port went through during the run: exact counts for the verdict and the report, the
// answer-time histogram, and the same events on the run's time axis in a fixed number of buckets.
// Times are wall-clock ms since the epoch, handed in by the caller.
class PortRunRecord {
public:
    using Buckets = std::array<TimelineBucket, TimeAxis::kBuckets>;

    // A device is named for this port (from the start, or from when it first opened).
    void bind(const QString& device, std::int64_t ms);
    void opened(const TimeAxis& axis, std::int64_t ms, bool returned, const QString& detail);
    void lost(const TimeAxis& axis, std::int64_t ms, const QString& detail);
    // One check's outcome. Texts are in visible form; answerMicros for an answer, agreed or not.
    void agreed(const TimeAxis& axis, std::int64_t ms, std::int64_t answerMicros);
    void differed(const TimeAxis& axis, std::int64_t ms, std::int64_t answerMicros,
                  const QString& answer, const QString& expected);
    void missed(const TimeAxis& axis, std::int64_t ms, const QString& sent,
                const QString& expected);
    // The session log lost lines of this port from startMs to endMs (bucketed at startMs).
    void logGap(const TimeAxis& axis, std::int64_t startMs, std::int64_t endMs,
                std::uint64_t lines);
    // The open time up to ms counted into the buckets (the run is read or ends).
    void countUpTime(const TimeAxis& axis, std::int64_t ms);
    // The axis is about to widen: every two neighbouring buckets become one, doublings times.
    void mergeBuckets(int doublings);

    bool isBound() const { return boundMs_ >= 0; }
    std::int64_t boundMs() const { return boundMs_; }
    const QString& device() const { return device_; }
    std::int64_t firstOpenedMs() const { return firstOpenedMs_; }
    bool isOpen() const { return openSinceMs_ >= 0; }

    std::uint64_t opens() const { return opens_; }
    std::uint64_t losses() const { return losses_; }
    std::uint64_t returns() const { return returns_; }
    std::uint64_t checks() const { return checks_; }
    std::uint64_t missedCount() const { return missed_; }
    std::uint64_t differedCount() const { return differed_; }
    std::uint64_t logGaps() const { return logGaps_; }
    std::uint64_t logLinesLost() const { return logLinesLost_; }
    const AnswerHistogram& answerTimes() const { return answerTimes_; }
    // The first loss, missed or differing answer; -1 when none.
    std::int64_t firstFailureMs() const { return firstFailureMs_; }

    const Buckets& buckets() const { return buckets_; }

private:
    void failedAt(std::int64_t ms);
    void answeredIn(TimelineBucket& bucket, std::int64_t answerMicros);

    QString device_;
    std::int64_t boundMs_ = -1;
    std::int64_t firstOpenedMs_ = -1;
    std::int64_t openSinceMs_ = -1; // -1 while closed
    std::uint64_t opens_ = 0, losses_ = 0, returns_ = 0;
    std::uint64_t checks_ = 0, missed_ = 0, differed_ = 0;
    std::uint64_t logGaps_ = 0, logLinesLost_ = 0;
    std::int64_t firstFailureMs_ = -1;
    AnswerHistogram answerTimes_;
    Buckets buckets_{};
};
