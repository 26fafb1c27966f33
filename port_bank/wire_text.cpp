#include "port_bank/wire_text.h"

#include <algorithm>

namespace {

bool isLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool isDigitByte(unsigned char byte)
{
    return byte >= 0x30 && byte <= 0x39;
}

// Where the last whole sequence of bytes ends: one byte below 0x81 (or 0xFF); a lead byte with
// its second byte; or, when the second byte is a digit and the third another lead byte, four
// bytes. A lead byte and a digit followed by anything else are taken as a pair, as the converter
// resynchronises after them.
qsizetype wholeSequencesEnd(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isLeadByte(byte)) {
            i += 1;
            continue;
        }
        if (i + 1 >= bytes.size())
            return i;
        if (!isDigitByte(static_cast<unsigned char>(bytes[i + 1]))) {
            i += 2;
            continue;
        }
        if (i + 2 >= bytes.size())
            return i;
        if (!isLeadByte(static_cast<unsigned char>(bytes[i + 2]))) {
            i += 2;
            continue;
        }
        if (i + 3 >= bytes.size())
            return i;
        i += 4;
    }
    return i;
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
    // The encoder keeps no state between commands: a command is always whole text.
    QStringEncoder encoder("GB18030");
    return encoder.encode(whole);
}

WireDecoder::WireDecoder() : decoder_("GB18030", QStringConverter::Flag::Stateless) {}

QString WireDecoder::decode(QByteArrayView bytes)
{
    QByteArray pending;
    QByteArrayView input = bytes;
    if (!unfinished_.isEmpty()) {
        pending = unfinished_;
        pending.append(bytes);
        input = pending;
    }
    const qsizetype end = wholeSequencesEnd(input);
    QString text = decoder_.decode(input.first(end));
    unfinished_ = input.sliced(end).toByteArray();
    return text;
}
