#include "unattended_run/answer_line.h"

void AnswerLine::begin()
{
    *this = AnswerLine();
}

void AnswerLine::add(QByteArrayView bytes, std::int64_t nowNs)
{
    if (bytes.isEmpty())
        return;
    lastByteNs_ = nowNs;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!line_.isEmpty()) {
                answer_.swap(line_);
                line_.clear();
                answered_ = true;
                answerEndNs_ = nowNs;
            }
        } else if (line_.size() < kMaxLine) {
            line_.append(c);
        }
    }
}
