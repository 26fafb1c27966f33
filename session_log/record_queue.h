#pragma once

#include "session_log/log_record.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// The bounded hand-over from the window thread to the log's writer. push() never waits for the
// writer: when the queue holds its limit, the record is counted per port and turned away, and
// so is everything after it until the writer has taken the queue; the writer then finds, after
// the records it takes, one QueueFull record per port saying how many were turned away. So the
// log says where it has a gap, and the window thread never blocks on a slow disk.
class RecordQueue {
public:
    static constexpr int kPorts = 16;

    // limit: bytes of record payload (plus a fixed cost per record) the queue may hold.
    explicit RecordQueue(qsizetype limit);

    // Returns false when the record was turned away.
    bool push(LogRecord&& record);

    // Waits until the queue is half full, close() is called or wait has passed, then takes
    // everything queued (appended to out, in the order pushed). Returns false once closed and
    // empty.
    bool take(std::vector<LogRecord>& out, std::chrono::milliseconds wait);

    // No record is accepted after this; take() returns what is left and then false.
    void close();

private:
    static qsizetype costOf(const LogRecord& record);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<LogRecord> records_;
    qsizetype limit_;
    qsizetype queued_ = 0;
    bool full_ = false;
    bool closed_ = false;
    std::array<std::uint64_t, kPorts> turnedAway_{};
    std::int64_t firstTurnedAwayMs_ = 0;
};
