#pragma once

#include "port_bank/port_directory.h"
#include "port_bank/port_numbering.h"

#include <QElapsedTimer>
#include <QStringList>
#include <functional>

// Port numbers for the serial devices that the system lists. On Windows port n is COMn and the
// list is not needed (automatic_port_directory_windows.cpp). Elsewhere the listed devices are
// numbered by PortNumbering; the list is read again at most twice a second, so a pass over sixteen
// ports costs one look at the system, and an adapter plugged in is picked up by the next pass.
class AutomaticPortDirectory : public PortDirectory {
public:
    // The serial devices present now, as paths ("/dev/ttyUSB0").
    using DeviceLister = std::function<QStringList()>;

    // The system's own list: as Qt's serial port information reads it; on Windows, the COM
    // ports of the registry.
    static QStringList systemSerialDevices();

    explicit AutomaticPortDirectory(DeviceLister lister = systemSerialDevices);

    QString deviceFor(int portNumber) override;

private:
    void refreshIfStale();

    DeviceLister lister_;
    PortNumbering numbering_;
    QElapsedTimer sinceRefresh_;
};
