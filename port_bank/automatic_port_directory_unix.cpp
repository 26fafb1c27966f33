#include "port_bank/automatic_port_directory.h"

#include <QSerialPortInfo>
#include <utility>

namespace {
constexpr qint64 kRefreshMs = 500;
}

QStringList AutomaticPortDirectory::systemSerialDevices()
{
    QStringList present;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        present.append(info.systemLocation());
    return present;
}

AutomaticPortDirectory::AutomaticPortDirectory(DeviceLister lister) : lister_(std::move(lister)) {}

QString AutomaticPortDirectory::deviceFor(int portNumber)
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
    refreshIfStale();
    return numbering_.deviceFor(portNumber);
}

void AutomaticPortDirectory::refreshIfStale()
{
    if (sinceRefresh_.isValid() && sinceRefresh_.elapsed() < kRefreshMs)
        return;
    numbering_.update(lister_());
    sinceRefresh_.start();
}
