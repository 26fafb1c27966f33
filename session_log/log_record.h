#pragma once

#include "session_log/local_timestamp.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// One thing to log for one port, as the window thread hands it to the log's writer: taken
// with its time, formatted and written later on the writer's thread.
struct LogRecord {
    enum class Kind : std::uint8_t {
        Sent,      // bytes: one command as sent
        SentMany,  // count: commands sent together, each after its length (4 bytes, this
                   // machine's order) in the batch's payload (RecordQueue::take()) at payloadAt,
                   // payloadSize bytes in all
        Received,  // bytes: as they came off the line
        Opened,    // text: device and settings
        InUse,     // text: device
        Lost,      // text: device
        Returned,  // text: device and settings
        Dropped,   // count: bytes dropped by the receive bound
        QueueFull, // count, byteCount: lines and bytes the port's full share of the queue
                   // turned away (made by the queue itself)
        Discarded, // count: bytes of commands thrown away unsent when the port closed
        Note,      // bytes: an event line already in visible form (a status check's finding)
    };

    std::int64_t ms = 0; // wall clock, ms since the epoch
    int index = 0;       // port index 0..15
    Kind kind = Kind::Sent;
    QByteArray bytes;
    QString text;
    std::uint64_t count = 0;
    std::uint64_t byteCount = 0;
    std::uint32_t payloadAt = 0; // a queue holds far less than 4 GiB
    std::uint32_t payloadSize = 0;

    // A record of port index, taken at ms (wall clock).
    static LogRecord at(std::int64_t ms, int index, Kind kind)
    {
        LogRecord record;
        record.ms = ms;
        record.index = index;
        record.kind = kind;
        return record;
    }
    // A record of port index, taken now by the wall clock.
    static LogRecord now(int index, Kind kind) { return at(wallClockMs(), index, kind); }

    // The bytes that came off or went to the line: without SentMany's lengths.
    qsizetype lineBytes() const
    {
        return kind == Kind::SentMany ? qsizetype(payloadSize) - qsizetype(count * kLengthBytes)
                                      : bytes.size();
    }
    static constexpr std::uint64_t kLengthBytes = 4;
};
