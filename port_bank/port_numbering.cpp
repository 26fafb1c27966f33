#include "port_bank/port_numbering.h"

#include <QCollator>
#include <algorithm>

namespace {

// 0: a UART on the board, 1: a USB adapter, 2: anything else.
int deviceKind(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    static const QStringList builtIn = {QStringLiteral("ttyS"), QStringLiteral("ttyAMA"),
                                        QStringLiteral("ttymxc"), QStringLiteral("ttySAC"),
                                        QStringLiteral("ttyO"), QStringLiteral("COM")};
    static const QStringList usb = {QStringLiteral("ttyUSB"), QStringLiteral("ttyACM"),
                                    QStringLiteral("cu.usb"), QStringLiteral("tty.usb")};
    auto startsWithOneOf = [&](const QStringList& prefixes) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const QString& prefix) { return name.startsWith(prefix); });
    };
    if (startsWithOneOf(builtIn))
        return 0;
    if (startsWithOneOf(usb))
        return 1;
    return 2;
}

} // namespace

bool PortNumbering::comesBefore(const QString& a, const QString& b)
{
    const int kindA = deviceKind(a);
    const int kindB = deviceKind(b);
    if (kindA != kindB)
        return kindA < kindB;
    // Natural order, so that ttyUSB2 comes before ttyUSB10.
    QCollator collator(QLocale::c());
    collator.setNumericMode(true);
    return collator.compare(a, b) < 0;
}

void PortNumbering::update(const QStringList& presentDevices)
{
    QStringList fresh;
    for (const QString& device : presentDevices) {
        if (std::find(devices_.begin(), devices_.end(), device) == devices_.end() &&
            !fresh.contains(device))
            fresh.append(device);
    }
    std::sort(fresh.begin(), fresh.end(), comesBefore);

    auto freeSlot = devices_.begin();
    for (const QString& device : fresh) {
        freeSlot = std::find_if(freeSlot, devices_.end(),
                                [](const QString& taken) { return taken.isEmpty(); });
        if (freeSlot == devices_.end())
            return; // all sixteen numbers are taken for the life of the program
        *freeSlot = device;
    }
}

QString PortNumbering::deviceFor(int portNumber) const
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
    return devices_[static_cast<std::size_t>(portNumber - 1)];
}
