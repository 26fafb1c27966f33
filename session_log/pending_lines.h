#pragma once

#include "session_log/received_lines.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <vector>

// A port's log lines, formatted and waiting to be written: "<time> <tag> <text>\n" each, with
// the time of the first of them. The time's text is kept between lines (LocalTimestamp), once
// per thread: lines are formatted on the writer's thread alone.
class PendingLines {
public:
    bool isEmpty() const { return text_.isEmpty(); }
    qsizetype size() const { return text_.size(); }
    std::int64_t firstMs() const { return firstMs_; }

    // text: already in visible form.
    void add(std::int64_t ms, const char* tag, QByteArrayView text);
    // One command as sent, made visible.
    void addSent(std::int64_t ms, QByteArrayView bytes);
    // Commands sent together: each after its length (4 bytes, this machine's order), count of
    // them, one line each with the one time.
    void addSentMany(std::int64_t ms, QByteArrayView framed, std::uint64_t count);
    void addLines(const std::vector<ReceivedLines::Line>& lines);

    // Swaps the lines with other: the writer takes them to write, and gives an emptied buffer
    // back so that its room is kept for the next lines.
    void swapText(QByteArray& other) { text_.swap(other); }

    // One line formatted as these are, appended to out (a notice written ahead of them).
    static void appendLine(QByteArray& out, std::int64_t ms, const char* tag, QByteArrayView text);

private:
    void begin(std::int64_t ms, const char* tag);

    QByteArray text_;
    QByteArray sentPrefix_; // time and tag of the commands being added
    std::int64_t firstMs_ = 0;
};
