#include "session_log/record_queue.h"

#include <cstring>

namespace {

std::int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RecordQueue::RecordQueue(qsizetype limit) : share_(limit / kPorts), lastTakeMs_(steadyMs()) {}

bool RecordQueue::isBehind() const
{
    return halfUsed_.load(std::memory_order_relaxed) &&
           steadyMs() - lastTakeMs_.load(std::memory_order_relaxed) < kStallMs;
}

qsizetype RecordQueue::costOf(const LogRecord& record)
{
    return qsizetype(sizeof(LogRecord)) + record.bytes.size() + qsizetype(record.payloadSize) +
           record.text.size() * 2;
}

std::uint64_t RecordQueue::linesOf(const LogRecord& record)
{
    if (record.kind == LogRecord::Kind::SentMany)
        return record.count;
    if (record.kind != LogRecord::Kind::Received)
        return 1;
    const QByteArray& bytes = record.bytes;
    std::uint64_t ends = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' ||
            (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++ends;
    }
    return std::max<std::uint64_t>(ends, 1);
}

bool RecordQueue::admit(const LogRecord& record, qsizetype cost, bool& wakeWriter)
{
    Share& share = shares_[std::size_t(record.index)];
    if (share.full || share.queued + cost > share_) {
        if (!share.full)
            share.firstTurnedAwayMs = record.ms;
        share.full = true;
        share.linesTurnedAway += linesOf(record);
        share.bytesTurnedAway += std::uint64_t(record.lineBytes());
        wakeWriter = !due_;
        due_ = true;
        return false;
    }
    // The writer is woken only when there is much to do; otherwise it comes by itself.
    const bool reachesHalf = share.queued < share_ / 2 && share.queued + cost >= share_ / 2;
    if (reachesHalf)
        halfUsed_.store(true, std::memory_order_relaxed);
    if (reachesHalf || (queued_ < kBatchBytes && queued_ + cost >= kBatchBytes)) {
        wakeWriter = !due_;
        due_ = true;
    }
    share.queued += cost;
    queued_ += cost;
    return true;
}

bool RecordQueue::push(LogRecord&& record)
{
    return enqueue(std::move(record), {});
}

bool RecordQueue::pushSent(int index, std::int64_t ms, std::span<const QByteArray> commands)
{
    if (commands.empty())
        return false;
    LogRecord record = LogRecord::at(ms, index, LogRecord::Kind::SentMany);
    record.count = commands.size();
    qsizetype size = qsizetype(commands.size() * LogRecord::kLengthBytes);
    for (const QByteArray& bytes : commands)
        size += bytes.size();
    record.payloadSize = std::uint32_t(size);
    return enqueue(std::move(record), commands);
}

bool RecordQueue::enqueue(LogRecord&& record, std::span<const QByteArray> commands)
{
    if (record.index < 0 || record.index >= kPorts)
        return false;
    const qsizetype cost = costOf(record);
    bool wakeWriter = false;
    bool accepted = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        accepted = admit(record, cost, wakeWriter);
        if (accepted) {
            record.payloadAt = std::uint32_t(payload_.size());
            payload_.resize(payload_.size() + qsizetype(record.payloadSize));
            char* at = payload_.data() + record.payloadAt;
            for (const QByteArray& bytes : commands) {
                const auto length = std::uint32_t(bytes.size());
                static_assert(sizeof length == LogRecord::kLengthBytes);
                std::memcpy(at, &length, sizeof length);
                std::memcpy(at + sizeof length, bytes.constData(), std::size_t(bytes.size()));
                at += sizeof length + std::size_t(bytes.size());
            }
            records_.push_back(std::move(record));
        }
    }
    if (wakeWriter)
        wake_.notify_one();
    return accepted;
}

bool RecordQueue::take(std::vector<LogRecord>& out, QByteArray& payload,
                       std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [this] { return closed_ || due_; });
    bool hadRecords = !records_.empty();
    if (!payload.isEmpty()) {
        for (LogRecord& record : records_)
            record.payloadAt += std::uint32_t(payload.size());
        payload.append(payload_);
        payload_.resize(0);
    } else {
        payload.swap(payload_);
    }
    if (out.empty())
        out.swap(records_);
    else
        std::move(records_.begin(), records_.end(), std::back_inserter(out));
    records_.clear();
    queued_ = 0;
    for (int index = 0; index < kPorts; ++index) {
        Share& share = shares_[std::size_t(index)];
        share.queued = 0;
        if (!share.full)
            continue;
        LogRecord gap = LogRecord::at(share.firstTurnedAwayMs, index, LogRecord::Kind::QueueFull);
        gap.count = share.linesTurnedAway;
        gap.byteCount = share.bytesTurnedAway;
        out.push_back(std::move(gap));
        share = Share{};
        hadRecords = true;
    }
    due_ = false;
    halfUsed_.store(false, std::memory_order_relaxed);
    lastTakeMs_.store(steadyMs(), std::memory_order_relaxed);
    return hadRecords || !closed_;
}

void RecordQueue::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_one();
}
