#include "port_bank/wire_text.h"

#include "port_bank/gb18030.h"
#include "port_bank/gb18030_codec.h"

#include <algorithm>
#include <cstring>

namespace {

// Eight bytes at a time: a byte at a time costs five times the Latin-1 conversion itself.
bool isAscii(QByteArrayView bytes)
{
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, sizeof word);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    return std::all_of(at, end, [](char byte) { return static_cast<uchar>(byte) < 0x80; });
}

} // namespace

QByteArray encodeForWire(const QString& text)
{
    // Commands are nearly always ASCII, which GB18030 leaves as it is; skip the converter then.
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLatin1();
    // A surrogate without its pair has no character to send. The converter substitutes SUB
    // (0x1A) for one inside the text but silently holds back one at the end, waiting for a pair
    // that never comes; substitute every such one alike, wherever it stands.
    QString whole = text;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const QChar c = whole[i];
        if (c.isHighSurrogate() && i + 1 < whole.size() && whole[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            whole[i] = QChar(0x1A);
    }
    // A command is always whole text.
    return gb18030FromText(whole);
}

namespace {

// Replies are mostly ASCII too, which GB18030 leaves as it is: Qt's Latin-1 conversion then
// does in one pass what the converter does byte by byte.
QString decodeWhole(QByteArrayView bytes)
{
    return isAscii(bytes) ? QString::fromLatin1(bytes) : gb18030ToText(bytes);
}

} // namespace

QString WireDecoder::decode(QByteArrayView bytes)
{
    QByteArray pending;
    QByteArrayView input = bytes;
    if (!unfinished_.isEmpty()) {
        pending = unfinished_;
        pending.append(bytes);
        input = pending;
    }
    const qsizetype end = Gb18030::wholeUnitsEnd(input);
    QString text = decodeWhole(input.first(end));
    unfinished_ = input.sliced(end).toByteArray();
    return text;
}
