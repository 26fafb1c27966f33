#include "port_bank/lines/serial_settings.h"

#include <QStringList>

namespace {

constexpr int kLowestBaudRate = 50;
constexpr int kHighestBaudRate = 4000000;

// Only ASCII digits count: QChar::isDigit() would also let full-width and Arabic-Indic digits
// through, which no serial driver understands.
bool isAsciiNumber(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

std::optional<int> parseBaudRate(const QString& field)
{
    if (!isAsciiNumber(field))
        return {};
    bool ok = false;
    const int baudRate = field.toInt(&ok);
    if (!ok || baudRate < kLowestBaudRate || baudRate > kHighestBaudRate)
        return {};
    return baudRate;
}

std::optional<SerialSettings::Parity> parseParity(const QString& field)
{
    if (field.size() != 1)
        return {};
    switch (field.at(0).toLower().unicode()) {
    case u'n':
        return SerialSettings::Parity::None;
    case u'e':
        return SerialSettings::Parity::Even;
    case u'o':
        return SerialSettings::Parity::Odd;
    case u'm':
        return SerialSettings::Parity::Mark;
    case u's':
        return SerialSettings::Parity::Space;
    default:
        return {};
    }
}

std::optional<int> parseDataBits(const QString& field)
{
    if (field.size() != 1 || field.at(0) < u'5' || field.at(0) > u'8')
        return {};
    return field.at(0).unicode() - u'0';
}

std::optional<SerialSettings::StopBits> parseStopBits(const QString& field)
{
    if (field == u"1")
        return SerialSettings::StopBits::One;
    if (field == u"1.5")
        return SerialSettings::StopBits::OneAndHalf;
    if (field == u"2")
        return SerialSettings::StopBits::Two;
    return {};
}

} // namespace

std::optional<SerialSettings> parseSerialSettings(const QString& text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return {};

    const auto baudRate = parseBaudRate(fields.at(0).trimmed());
    const auto parity = parseParity(fields.at(1).trimmed());
    const auto dataBits = parseDataBits(fields.at(2).trimmed());
    const auto stopBits = parseStopBits(fields.at(3).trimmed());
    if (!baudRate || !parity || !dataBits || !stopBits)
        return {};

    SerialSettings settings;
    settings.baudRate = *baudRate;
    settings.parity = *parity;
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}
