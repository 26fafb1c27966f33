#include "session_log/record_queue.h"

RecordQueue::RecordQueue(qsizetype limit) : limit_(limit) {}

qsizetype RecordQueue::costOf(const LogRecord& record)
{
    return qsizetype(sizeof(LogRecord)) + record.bytes.size() + record.text.size() * 2;
}

bool RecordQueue::push(LogRecord&& record)
{
    const qsizetype cost = costOf(record);
    bool wakeWriter = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        if (full_ || queued_ + cost > limit_) {
            if (!full_)
                firstTurnedAwayMs_ = record.ms;
            full_ = true;
            if (record.index >= 0 && record.index < kPorts)
                ++turnedAway_[std::size_t(record.index)];
            return false;
        }
        // The writer is woken only when there is much to do; otherwise it comes by itself.
        wakeWriter = queued_ < limit_ / 2 && queued_ + cost >= limit_ / 2;
        queued_ += cost;
        records_.push_back(std::move(record));
    }
    if (wakeWriter)
        wake_.notify_one();
    return true;
}

bool RecordQueue::take(std::vector<LogRecord>& out, std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [this] { return closed_ || full_ || queued_ >= limit_ / 2; });
    const bool hadRecords = !records_.empty() || full_;
    if (out.empty())
        out.swap(records_);
    else
        std::move(records_.begin(), records_.end(), std::back_inserter(out));
    records_.clear();
    queued_ = 0;
    if (full_) {
        for (int index = 0; index < kPorts; ++index) {
            std::uint64_t& count = turnedAway_[std::size_t(index)];
            if (count == 0)
                continue;
            LogRecord gap;
            gap.ms = firstTurnedAwayMs_;
            gap.index = index;
            gap.kind = LogRecord::Kind::QueueFull;
            gap.count = count;
            out.push_back(std::move(gap));
            count = 0;
        }
        full_ = false;
    }
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
