#pragma once

#include "session_log/log_record.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>
#include <vector>

// The bounded hand-over from the window thread to the log's writer. push() never waits for the
// writer: each port has an equal share of the limit, so that ports flooding the queue never
// push out another port's lines. When a port's share is used up, its record is counted (lines
// and bytes) and turned away, and so is everything after it for that port until the writer has
// taken the queue; the writer then finds, after the records it takes, one QueueFull record per
// such port saying how much was turned away. So the log says where it has a gap, and the window
// thread never blocks on a slow disk.
class RecordQueue {
public:
    static constexpr int kPorts = 16;
    // What the writer takes at once under a steady stream: enough that it wakes only every few
    // milliseconds, little enough that a busy log holds its batches in cache and in a few
    // hundred kilobytes rather than tens of megabytes.
    static constexpr qsizetype kBatchBytes = 64 * 1024;

    // limit: bytes of record payload (plus a fixed cost per record) the queue may hold, all
    // ports together; each port may hold a sixteenth of it.
    explicit RecordQueue(qsizetype limit);

    // Returns false when the record was turned away.
    bool push(LogRecord&& record);
    // Commands of port index sent together at ms, as one SentMany record. Their bytes are copied
    // into the queue's payload, which goes to the writer whole: at full speed these are a
    // hundred thousand records a second or more, and a buffer of their own each would be
    // allocated on the window thread and freed on the writer's, at a cost to both.
    bool pushSent(int index, std::int64_t ms, std::span<const QByteArray> commands);

    // Waits until a port's share is half used, kBatchBytes are queued in all, close() is called
    // or wait has passed, then takes everything queued (appended to out, in the order pushed;
    // the payload of SentMany records appended to payload). Give both back emptied with their
    // room kept (resize(0), clear()), and the queue reuses it. Returns false once closed and
    // empty.
    bool take(std::vector<LogRecord>& out, QByteArray& payload, std::chrono::milliseconds wait);

    // No record is accepted after this; take() returns what is left and then false.
    void close();

    // A port's share is half used and the writer has not taken it yet, though it has taken
    // within the last kStallMs: a writer sending back to back waits for it rather than have
    // lines turned away. A writer stuck on its disk holds nobody up. Any thread.
    bool isBehind() const;
    static constexpr std::int64_t kStallMs = 2000;

    // The log lines a record stands for, when it is lost: a received piece counts its line ends,
    // and a piece with none still stands for (part of) a line.
    static std::uint64_t linesOf(const LogRecord& record);

private:
    struct Share {
        qsizetype queued = 0;
        bool full = false;
        std::uint64_t linesTurnedAway = 0;
        std::uint64_t bytesTurnedAway = 0;
        std::int64_t firstTurnedAwayMs = 0;
    };

    static qsizetype costOf(const LogRecord& record);
    // Queues record, with commands (if any) framed into the payload at its payloadAt.
    bool enqueue(LogRecord&& record, std::span<const QByteArray> commands);
    // Under the lock: whether the port's share takes cost more bytes; counts the record as
    // turned away when not. wakeWriter is set when the writer should come now.
    bool admit(const LogRecord& record, qsizetype cost, bool& wakeWriter);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<LogRecord> records_;
    QByteArray payload_;
    qsizetype share_;
    qsizetype queued_ = 0; // all ports together
    std::array<Share, kPorts> shares_{};
    bool due_ = false; // a share is half used or full: the writer should come now
    std::atomic<bool> halfUsed_ = false;
    std::atomic<std::int64_t> lastTakeMs_;
    bool closed_ = false;
};
