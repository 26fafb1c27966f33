#include "session_log/visible_text.h"

#include "port_bank/gb18030.h"
#include "port_bank/gb18030_codec.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

void appendHex(QByteArray& out, unsigned value, int digits)
{
    static const char kHex[] = "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.append(kHex[(value >> shift) & 0xF]);
}

void appendByteEscape(QByteArray& out, unsigned char byte)
{
    out.append("\\x", 2);
    appendHex(out, byte, 2);
}

// A byte that is its own visible form: printable ASCII other than the backslash.
bool isPlainByte(unsigned char byte)
{
    return byte >= 0x20 && byte < 0x7F && byte != '\\';
}

// One ASCII byte: printable ones pass, the backslash doubles, controls become escapes.
void appendAscii(QByteArray& out, unsigned char byte)
{
    if (isPlainByte(byte)) {
        out.append(char(byte));
        return;
    }
    switch (byte) {
    case '\\':
        out.append("\\\\", 2);
        break;
    case '\r':
        out.append("\\r", 2);
        break;
    case '\n':
        out.append("\\n", 2);
        break;
    case '\t':
        out.append("\\t", 2);
        break;
    default:
        appendByteEscape(out, byte);
        break;
    }
}

// A decoded character beyond ASCII: C1 controls and the line and paragraph separators would
// break or garble a line, so they are written as "\uXXXX".
void appendCodePoint(QByteArray& out, char32_t c)
{
    if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
        out.append("\\u", 2);
        appendHex(out, unsigned(c), 4);
        return;
    }
    out.append(QString::fromUcs4(&c, 1).toUtf8());
}

} // namespace

void VisibleText::append(QByteArrayView input, QByteArray& out)
{
    QByteArray joined;
    QByteArrayView bytes = input;
    if (!held_.isEmpty()) {
        joined = held_ + input.toByteArray();
        bytes = joined;
        held_.clear();
    }

    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            appendAscii(out, byte);
            ++i;
            continue;
        }
        const Gb18030::Unit unit = Gb18030::unitAt(bytes.sliced(i));
        if (unit.length == 0) {
            held_ = bytes.sliced(i).toByteArray();
            return;
        }
        const QByteArrayView sequence = bytes.sliced(i, unit.length);
        if (unit.character) {
            appendSequence(sequence, out);
        } else {
            // Bytes that start no character: escaped, and what follows is read afresh.
            for (char bad : sequence)
                appendByteEscape(out, static_cast<unsigned char>(bad));
        }
        i += unit.length;
    }
}

void VisibleText::appendSequence(QByteArrayView sequence, QByteArray& out)
{
    // Every multi-byte sequence stands for a character beyond ASCII. A sequence with no
    // character comes back as U+FFFD (or something else): escaped then, except 84 31 A4 37,
    // which is U+FFFD itself.
    const QString text = gb18030ToText(sequence);
    const QList<uint> codePoints = text.toUcs4();
    const bool isReplacement = sequence == QByteArrayView("\x84\x31\xA4\x37", 4);
    if (codePoints.size() == 1 && codePoints[0] >= 0x80 &&
        (codePoints[0] != 0xFFFD || isReplacement)) {
        appendCodePoint(out, char32_t(codePoints[0]));
        return;
    }
    for (char byte : sequence)
        appendByteEscape(out, static_cast<unsigned char>(byte));
}

void VisibleText::finish(QByteArray& out)
{
    // The first held byte is a lead byte that nothing finishes; what followed it is read afresh,
    // as it would be anywhere else in the stream.
    while (!held_.isEmpty()) {
        const QByteArray rest = held_.mid(1);
        appendByteEscape(out, static_cast<unsigned char>(held_[0]));
        held_.clear();
        append(rest, out);
    }
}

QByteArray VisibleText::of(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    appendOf(bytes, out);
    return out;
}

bool VisibleText::isPlain(QByteArrayView bytes)
{
    // Eight bytes at a time: this runs for every command the log writes. A word holds a byte
    // below 0x20, one of 0x7F or above, or a backslash exactly when the matching test sets that
    // byte's top bit (a borrow or carry only runs on from a byte that already matched).
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kTops = 0x8080808080808080;
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    for (; end - at >= 8; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        const std::uint64_t control = (word - 0x20 * kOnes) & ~word;
        const std::uint64_t high = word | (word + kOnes);
        const std::uint64_t slash = word ^ ('\\' * kOnes);
        if (((control | high | ((slash - kOnes) & ~slash)) & kTops) != 0)
            return false;
    }
    return std::all_of(at, end, [](char c) { return isPlainByte(static_cast<unsigned char>(c)); });
}

void VisibleText::appendOf(QByteArrayView bytes, QByteArray& out)
{
    // Most commands are printable ASCII with a line end or two: runs of printable bytes pass in
    // one piece, and only from the first byte beyond ASCII on is the text decoded.
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype end = i;
        while (end < bytes.size() && isPlainByte(static_cast<unsigned char>(bytes[end])))
            ++end;
        out.append(bytes.sliced(i, end - i));
        if (end == bytes.size())
            return;
        const auto byte = static_cast<unsigned char>(bytes[end]);
        if (byte >= 0x80) {
            i = end;
            break;
        }
        appendAscii(out, byte);
        i = end + 1;
    }
    if (i == bytes.size())
        return;
    // A fresh one costs nothing (it holds no bytes). Not one per thread: with mingw a
    // thread-local object with a destructor corrupts the heap when its thread ends.
    VisibleText visible;
    visible.append(bytes.sliced(i), out);
    visible.finish(out);
}

QByteArray VisibleText::ofText(const QString& text)
{
    QByteArray out;
    for (char32_t c : text.toUcs4()) {
        if (c < 0x80)
            appendAscii(out, static_cast<unsigned char>(c));
        else
            appendCodePoint(out, c);
    }
    return out;
}
