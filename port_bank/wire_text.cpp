#include "port_bank/wire_text.h"

QByteArray encodeForWire(const QString& text)
{
    // The encoder keeps no state between commands: a command is always whole text.
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

WireDecoder::WireDecoder() : decoder_("GB18030") {}

QString WireDecoder::decode(QByteArrayView bytes)
{
    return decoder_.decode(bytes);
}
