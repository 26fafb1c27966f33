#include "session_log/received_lines.h"

void ReceivedLines::add(std::int64_t ms, QByteArrayView bytes, std::vector<Line>& lines)
{
    if (bytes.isEmpty())
        return;
    lastArrivalMs_ = ms;
    if (lineBytes_ == 0)
        lineStartMs_ = ms;

    qsizetype start = 0; // the first byte not yet taken into the line
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char byte = bytes[i];
        if (endsWithCr_ && byte != '\n') {
            // A CR alone ended the line before this byte.
            take(bytes.sliced(start, i - start));
            start = i;
            endLine(lines);
            lineStartMs_ = ms;
        }
        if (byte == '\n' || byte == '\r') {
            take(bytes.sliced(start, i + 1 - start));
            start = i + 1;
            endsWithCr_ = byte == '\r';
            if (byte == '\n') {
                endLine(lines);
                lineStartMs_ = ms;
            }
        } else if (lineBytes_ + (i + 1 - start) >= kMaxLineBytes) {
            take(bytes.sliced(start, i + 1 - start));
            start = i + 1;
            endLine(lines);
            lineStartMs_ = ms;
        }
    }
    take(bytes.sliced(start));
}

void ReceivedLines::take(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    visible_.append(bytes, text_);
    lineBytes_ += bytes.size();
    endsWithCr_ = bytes.back() == '\r';
}

void ReceivedLines::endLine(std::vector<Line>& lines)
{
    if (!text_.isEmpty())
        lines.push_back(Line{lineStartMs_, text_});
    text_.clear();
    // Bytes of a character still unfinished belong to the next line.
    lineBytes_ = visible_.heldCount();
    endsWithCr_ = false;
}

void ReceivedLines::flush(std::vector<Line>& lines, bool final)
{
    if (final)
        visible_.finish(text_);
    endLine(lines);
}
