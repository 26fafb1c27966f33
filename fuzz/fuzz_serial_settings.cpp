// parseSerialSettings() reads the settings box, which takes any text. An accepted text must
// give settings a serial driver can take, and those settings, written back in the plain
// "baud,parity,data,stop" form, must read back unchanged.

#include "fuzz_support.h"
#include "port_bank/lines/serial_settings.h"

#include <cstdint>

namespace {

using fuzz::check;
using Parity = SerialSettings::Parity;
using StopBits = SerialSettings::StopBits;

bool isKnown(Parity parity)
{
    switch (parity) {
    case Parity::None:
    case Parity::Even:
    case Parity::Odd:
    case Parity::Mark:
    case Parity::Space:
        return true;
    }
    return false;
}

bool isKnown(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::One:
    case StopBits::OneAndHalf:
    case StopBits::Two:
        return true;
    }
    return false;
}

QString canonicalText(const SerialSettings& settings)
{
    static constexpr char16_t kParityLetters[] = u"neoms";
    static const QString kStopTexts[] = {QStringLiteral("1"), QStringLiteral("1.5"),
                                         QStringLiteral("2")};
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baudRate)
        .arg(QChar(kParityLetters[static_cast<int>(settings.parity)]))
        .arg(settings.dataBits)
        .arg(kStopTexts[static_cast<int>(settings.stopBits)]);
}

void checkText(const QString& text)
{
    const std::optional<SerialSettings> settings = parseSerialSettings(text);
    if (!settings)
        return;

    check(text.count(u',') == 3, "accepted a text that is not four fields", text);
    check(settings->baudRate > 0, "accepted a baud rate below 1", text);
    check(settings->dataBits >= 5 && settings->dataBits <= 8, "accepted data bits outside 5..8",
          text);
    check(isKnown(settings->parity) && isKnown(settings->stopBits),
          "produced a parity or stop-bits value outside its enum", text);

    const QString canonical = canonicalText(*settings);
    const std::optional<SerialSettings> reread = parseSerialSettings(canonical);
    check(reread && *reread == *settings, "its plain form does not read back the same", text);
    // The parity letter is case-blind, so the upper-case form must read the same too.
    const std::optional<SerialSettings> upper = parseSerialSettings(canonical.toUpper());
    check(upper && *upper == *settings, "its upper-case form does not read back the same", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkText(fuzz::utf8Text(data, size));
    checkText(fuzz::utf16Text(data, size));
    return 0;
}
