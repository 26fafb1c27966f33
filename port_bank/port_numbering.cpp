#include "port_bank/port_numbering.h"

#include <algorithm>

namespace {

// 0: a UART on the board, 1: a USB adapter, 2: anything else.
int deviceKind(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    static const QStringList builtIn = {QStringLiteral("ttyS"),   QStringLiteral("ttyAMA"),
                                        QStringLiteral("ttymxc"), QStringLiteral("ttySAC"),
                                        QStringLiteral("ttyO"),   QStringLiteral("COM")};
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

// Natural order: runs of digits compare by their value, so ttyUSB2 comes before ttyUSB10.
bool naturallyBefore(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            // Compare the values without converting: skip leading zeros, then length, then text.
            QStringView runA = QStringView(a).mid(startA, i - startA);
            QStringView runB = QStringView(b).mid(startB, j - startB);
            while (runA.size() > 1 && runA.front() == QLatin1Char('0'))
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == QLatin1Char('0'))
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int order = runA.compare(runB); order != 0)
                return order < 0;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

bool PortNumbering::comesBefore(const QString& a, const QString& b)
{
    const int kindA = deviceKind(a);
    const int kindB = deviceKind(b);
    if (kindA != kindB)
        return kindA < kindB;
    return naturallyBefore(a, b);
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
