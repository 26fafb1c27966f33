#include "port_bank/gb18030_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

// The converter keeps no state between calls: each is whole text.
QByteArray gb18030FromText(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// One decoder a thread, made at the first call: making one costs more than decoding a reply.
QString gb18030ToText(QByteArrayView bytes)
{
    thread_local QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}
