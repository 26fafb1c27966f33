#include "port_bank/wire_text.h"

#include <algorithm>

QByteArray encodeForWire(const QString& text)
{
    // Commands are nearly always ASCII, which GB18030 leaves as it is; skip the converter then.
    const bool ascii = std::all_of(text.cbegin(), text.cend(),
                                   [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLatin1();
    // The encoder keeps no state between commands: a command is always whole text.
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

WireDecoder::WireDecoder() : decoder_("GB18030") {}

QString WireDecoder::decode(QByteArrayView bytes)
{
    return decoder_.decode(bytes);
}
