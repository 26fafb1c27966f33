#include "session_log/pending_lines.h"

#include "session_log/local_timestamp.h"
#include "session_log/visible_text.h"

#include <algorithm>
#include <cstring>

namespace {

// The time's text is kept between calls: one per thread (each writer has its own).
thread_local LocalTimestamp timestamp;

// A line's time and tag; its text and line end follow.
void appendStart(QByteArray& out, std::int64_t ms, const char* tag)
{
    timestamp.append(out, ms);
    out.append(' ');
    out.append(tag);
    out.append(' ');
}

} // namespace

void PendingLines::appendLine(QByteArray& out, std::int64_t ms, const char* tag,
                              QByteArrayView text)
{
    appendStart(out, ms, tag);
    out.append(text);
    out.append('\n');
}

void PendingLines::begin(std::int64_t ms, const char* tag)
{
    if (text_.isEmpty())
        firstMs_ = ms;
    appendStart(text_, ms, tag);
}

void PendingLines::add(std::int64_t ms, const char* tag, QByteArrayView text)
{
    begin(ms, tag);
    text_.append(text);
    text_.append('\n');
}

void PendingLines::addSent(std::int64_t ms, QByteArrayView bytes)
{
    begin(ms, "TX");
    VisibleText::appendOf(bytes, text_);
    text_.append('\n');
}

// The time's text is made once for all of them. At full speed these are a million lines a
// second or more, most of them plain text: a plain one is copied in as one piece.
void PendingLines::addSentMany(std::int64_t ms, QByteArrayView framed, std::uint64_t count)
{
    if (text_.isEmpty())
        firstMs_ = ms;
    sentPrefix_.resize(0);
    appendStart(sentPrefix_, ms, "TX");
    qsizetype at = 0;
    for (std::uint64_t i = 0; i < count && framed.size() - at >= qsizetype(sizeof(std::uint32_t));
         ++i) {
        std::uint32_t length = 0;
        std::memcpy(&length, framed.data() + at, sizeof length);
        at += qsizetype(sizeof length);
        const QByteArrayView bytes =
            framed.sliced(at, std::min(qsizetype(length), framed.size() - at));
        at += bytes.size();
        if (!VisibleText::isPlain(bytes)) {
            text_.append(sentPrefix_);
            VisibleText::appendOf(bytes, text_);
            text_.append('\n');
            continue;
        }
        const qsizetype lineStart = text_.size();
        text_.resize(lineStart + sentPrefix_.size() + bytes.size() + 1);
        char* out = text_.data() + lineStart;
        std::memcpy(out, sentPrefix_.constData(), std::size_t(sentPrefix_.size()));
        out += sentPrefix_.size();
        std::memcpy(out, bytes.data(), std::size_t(bytes.size()));
        out[bytes.size()] = '\n';
    }
}

void PendingLines::addLines(const std::vector<ReceivedLines::Line>& lines)
{
    for (const auto& line : lines)
        add(line.ms, "RX", line.text);
}
