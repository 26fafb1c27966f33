#include "port_bank/lines/win32_comm_format.h"

namespace {

quint8 parityOf(SerialSettings::Parity parity)
{
    switch (parity) {
    case SerialSettings::Parity::Odd:
        return CommFormat::OddParity;
    case SerialSettings::Parity::Even:
        return CommFormat::EvenParity;
    case SerialSettings::Parity::Mark:
        return CommFormat::MarkParity;
    case SerialSettings::Parity::Space:
        return CommFormat::SpaceParity;
    case SerialSettings::Parity::None:
        break;
    }
    return CommFormat::NoParity;
}

} // namespace

CommFormat commFormatOf(const SerialSettings& settings)
{
    CommFormat format;
    format.baudRate = quint32(settings.baudRate);
    format.byteSize = quint8(settings.dataBits);
    format.parity = parityOf(settings.parity);
    if (settings.stopBits != SerialSettings::StopBits::One)
        format.stopBits =
            settings.dataBits == 5 ? CommFormat::One5StopBits : CommFormat::TwoStopBits;
    return format;
}
