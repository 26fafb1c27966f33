#pragma once

#include "session_log/visible_text.h"

#include <QByteArray>
#include <cstdint>
#include <vector>

// What one port received, cut into log lines: a line ends after LF, or after a CR that no LF
// follows (controllers that end lines with CR alone), and is at most kMaxLineBytes received
// bytes long, so that a port that never ends a line still shows up. Each line carries the time
// its first byte arrived and its visible text (control characters and undecodable bytes
// escaped). A character cut between two arrivals comes out whole.
class ReceivedLines {
public:
    static constexpr qsizetype kMaxLineBytes = 4096;

    struct Line {
        std::int64_t ms = 0;
        QByteArray text;
    };

    // Bytes that arrived at ms; the lines they complete are appended to lines.
    void add(std::int64_t ms, QByteArrayView bytes, std::vector<Line>& lines);

    // Hands on the unfinished line, if it has any text: before a command or an event of the same
    // port, so that the log keeps the order of what happened, and when the port fell silent.
    // Bytes of an unfinished character stay held unless final (no more bytes follow).
    void flush(std::vector<Line>& lines, bool final);

    // The unfinished line has text that a flush would hand on.
    bool hasUnfinishedText() const { return !text_.isEmpty(); }
    // When the last bytes arrived (for the flush of a port that fell silent).
    std::int64_t lastArrivalMs() const { return lastArrivalMs_; }

private:
    void take(QByteArrayView bytes);
    void endLine(std::vector<Line>& lines);

    VisibleText visible_;
    QByteArray text_;         // visible text of the unfinished line
    qsizetype lineBytes_ = 0; // bytes received into the unfinished line, held ones included
    std::int64_t lineStartMs_ = 0;
    std::int64_t lastArrivalMs_ = 0;
    bool endsWithCr_ = false; // the last byte taken was a CR
};
