#include "port_bank/automatic_port_directory.h"

#include <QSerialPortInfo>

namespace {
constexpr qint64 kRefreshMs = 500;
}

QString AutomaticPortDirectory::deviceFor(int portNumber)
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    refreshIfStale();
    return numbering_.deviceFor(portNumber);
#endif
}

void AutomaticPortDirectory::refreshIfStale()
{
    if (sinceRefresh_.isValid() && sinceRefresh_.elapsed() < kRefreshMs)
        return;
    QStringList present;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        present.append(info.systemLocation());
    numbering_.update(present);
    sinceRefresh_.start();
}
