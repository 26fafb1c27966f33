#include "port_bank/wire_text.h"

#include "port_bank/gb18030.h"
#include "port_bank/gb18030_codec.h"

#include <algorithm>

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

// Replies are nearly always ASCII too, which GB18030 leaves as it is.
QString decodeWhole(QByteArrayView bytes)
{
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    return gb18030ToText(bytes);
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
