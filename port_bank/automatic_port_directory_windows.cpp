#include "port_bank/automatic_port_directory.h"

#include <QSettings>
#include <utility>

// The COM ports that the system has now, as its registry lists them ("COM3").
QStringList AutomaticPortDirectory::systemSerialDevices()
{
    QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                  QSettings::NativeFormat);
    QStringList present;
    const QStringList names = map.childKeys();
    for (const QString& name : names)
        present.append(map.value(name).toString());
    return present;
}

AutomaticPortDirectory::AutomaticPortDirectory(DeviceLister lister) : lister_(std::move(lister)) {}

// Port n is COMn whether or not the system has it now: opening it says which.
QString AutomaticPortDirectory::deviceFor(int portNumber)
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
    return QStringLiteral("COM%1").arg(portNumber);
}

void AutomaticPortDirectory::refreshIfStale() {}
