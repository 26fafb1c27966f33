#include "unattended_run/port_run_record.h"

#include "session_log/local_timestamp.h"

#include <algorithm>

void PortRunRecord::bind(const QString& device, std::int64_t ms)
{
    if (boundMs_ >= 0)
        return;
    device_ = device;
    boundMs_ = ms;
}

void PortRunRecord::opened(const TimeAxis& axis, std::int64_t ms, bool returned,
                           const QString& detail)
{
    bind(detail.section(QLatin1Char(' '), 0, 0), ms);
    ++opens_;
    if (firstOpenedMs_ < 0)
        firstOpenedMs_ = ms;
    if (openSinceMs_ < 0)
        openSinceMs_ = ms;
    TimelineBucket& bucket = buckets_[std::size_t(axis.bucketOf(ms))];
    if (returned) {
        ++returns_;
        bucket.returned.add(ms, detail);
    } else {
        bucket.opened.add(ms, detail);
    }
}

void PortRunRecord::lost(const TimeAxis& axis, std::int64_t ms, const QString& detail)
{
    countUpTime(axis, ms);
    openSinceMs_ = -1;
    ++losses_;
    failedAt(ms);
    buckets_[std::size_t(axis.bucketOf(ms))].lost.add(ms, detail);
}

void PortRunRecord::answeredIn(TimelineBucket& bucket, std::int64_t answerMicros)
{
    ++checks_;
    answerTimes_.add(answerMicros);
    const double answerMs = double(answerMicros) / 1000.0;
    ++bucket.answers;
    bucket.answerMsSum += answerMs;
    bucket.answerMsMax = std::max(bucket.answerMsMax, answerMs);
}

void PortRunRecord::agreed(const TimeAxis& axis, std::int64_t ms, std::int64_t answerMicros)
{
    answeredIn(buckets_[std::size_t(axis.bucketOf(ms))], answerMicros);
}

void PortRunRecord::differed(const TimeAxis& axis, std::int64_t ms, std::int64_t answerMicros,
                             const QString& answer, const QString& expected)
{
    TimelineBucket& bucket = buckets_[std::size_t(axis.bucketOf(ms))];
    answeredIn(bucket, answerMicros);
    ++differed_;
    failedAt(ms);
    bucket.differed.add(ms, answer, expected);
}

void PortRunRecord::missed(const TimeAxis& axis, std::int64_t ms, const QString& sent,
                           const QString& expected)
{
    ++checks_;
    ++missed_;
    failedAt(ms);
    buckets_[std::size_t(axis.bucketOf(ms))].missed.add(ms, sent, expected);
}

void PortRunRecord::logGap(const TimeAxis& axis, std::int64_t startMs, std::int64_t endMs,
                           std::uint64_t lines)
{
    ++logGaps_;
    logLinesLost_ += lines;
    buckets_[std::size_t(axis.bucketOf(startMs))].logGaps.add(
        startMs, QStringLiteral("%1 lines lost until %2")
                     .arg(lines)
                     .arg(QString::fromLatin1(LocalTimestamp().text(endMs))));
}

void PortRunRecord::countUpTime(const TimeAxis& axis, std::int64_t ms)
{
    if (openSinceMs_ < 0 || ms <= openSinceMs_)
        return;
    // Spread [openSince, ms) over the buckets it covers; the last bucket takes any overhang.
    std::int64_t from = openSinceMs_;
    while (from < ms) {
        const int at = axis.bucketOf(from);
        const std::int64_t bucketEnd =
            at == TimeAxis::kBuckets - 1 ? ms : axis.bucketStartMs(at + 1);
        const std::int64_t to = std::min(ms, bucketEnd);
        buckets_[std::size_t(at)].upMs += to - from;
        from = to;
    }
    openSinceMs_ = ms;
}

void PortRunRecord::mergeBuckets(int doublings)
{
    for (int round = 0; round < doublings; ++round) {
        for (int i = 0; i < TimeAxis::kBuckets / 2; ++i) {
            TimelineBucket merged = buckets_[std::size_t(2 * i)];
            merged.merge(buckets_[std::size_t(2 * i + 1)]);
            buckets_[std::size_t(i)] = std::move(merged);
        }
        for (int i = TimeAxis::kBuckets / 2; i < TimeAxis::kBuckets; ++i)
            buckets_[std::size_t(i)] = TimelineBucket();
    }
}

void PortRunRecord::failedAt(std::int64_t ms)
{
    if (firstFailureMs_ < 0)
        firstFailureMs_ = ms;
}
