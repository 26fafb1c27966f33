#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

// What one port sent after a status query: its answer is the last complete line (ended by CR
// or LF; the empty line between CR and LF does not count), with the time its line end came.
// Bytes after the last line end are kept as the unfinished rest, shown when nothing answered.
class AnswerLine {
public:
    // A line longer than this keeps its first bytes only: answers are short, noise may not be.
    static constexpr qsizetype kMaxLine = 1024;

    void begin();
    void add(QByteArrayView bytes, std::int64_t nowNs);

    bool hasAnswer() const { return answered_; }
    const QByteArray& answer() const { return answer_; }
    std::int64_t answerEndNs() const { return answerEndNs_; }
    std::int64_t lastByteNs() const { return lastByteNs_; }
    const QByteArray& unfinished() const { return line_; }

private:
    QByteArray line_;
    QByteArray answer_;
    bool answered_ = false;
    std::int64_t answerEndNs_ = -1;
    std::int64_t lastByteNs_ = -1;
};
