// WireDecoder reads whatever a port sends, cut into pieces wherever the driver's reads end.
// Input layout: the first byte gives how many piece lengths follow (byte % 8; none means one
// piece), each of those bytes gives a length (byte % 8, used in turn; 0 feeds an empty piece),
// and the rest is the wire data. The pieces fed to one decoder must give exactly what the whole
// data gives at once, so a character split between reads comes out whole. encodeForWire() is
// checked on the same bytes read as text: it must match the plain GB18030 encoder and read back.

#include "fuzz_support.h"
#include "port_bank/wire_text.h"

#include <QByteArrayView>
#include <QList>
#include <QStringEncoder>

#include <algorithm>
#include <cstdint>

namespace {

using fuzz::check;

QString hexText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

void checkDecoding(QByteArrayView lengths, QByteArrayView wire)
{
    const QString whole = WireDecoder().decode(wire);
    const QString report = hexText(lengths) + QStringLiteral(" | ") + hexText(wire);

    WireDecoder decoder;
    QString pieces;
    if (lengths.isEmpty()) {
        pieces = decoder.decode(wire);
    } else {
        qsizetype pos = 0;
        for (qsizetype i = 0; pos < wire.size(); ++i) {
            const qsizetype length = static_cast<std::uint8_t>(lengths[i % lengths.size()]) % 8;
            if (length == 0)
                pieces += decoder.decode(QByteArrayView()); // a read that brought nothing
            const qsizetype take = std::min(std::max<qsizetype>(length, 1), wire.size() - pos);
            pieces += decoder.decode(wire.sliced(pos, take));
            pos += take;
        }
    }
    check(pieces == whole, "the pieces decode differently from the whole", report);

    check(QStringView(whole).isValidUtf16(), "decoded to broken UTF-16", report);
    // At most one UTF-16 unit per byte: a four-byte character gives two, anything else fewer.
    check(whole.size() <= wire.size(), "decoded to more units than bytes", report);
    const bool ascii = std::all_of(wire.begin(), wire.end(), [](char byte) {
        return static_cast<unsigned char>(byte) < 0x80;
    });
    if (ascii)
        check(whole == QLatin1StringView(wire), "ASCII did not pass unchanged", report);
}

void checkEncoding(const QString& text)
{
    const QByteArray wire = encodeForWire(text);
    QStringEncoder plain("GB18030");
    if (QStringView(text).isValidUtf16()) {
        check(wire == plain.encode(text), "differs from the plain GB18030 encoder", text);
        check(WireDecoder().decode(wire) == text, "does not read back after the wire", text);
        return;
    }
    // Broken UTF-16 has no faithful encoding: every surrogate without its pair goes out as SUB,
    // wherever it stands (the plain encoder drops one at the very end).
    QString substituted;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            substituted += text.sliced(i, 2);
            ++i;
        } else {
            substituted += text[i].isSurrogate() ? QChar(0x1A) : text[i];
        }
    }
    check(wire == plain.encode(substituted), "a lone surrogate did not go out as SUB", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const fuzz::CutInput cut = fuzz::splitCuts(input);
    checkDecoding(cut.cuts, cut.data);

    checkEncoding(fuzz::utf8Text(data, size));
    checkEncoding(fuzz::utf16Text(data, size));
    return 0;
}
