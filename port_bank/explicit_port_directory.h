#pragma once

#include "port_bank/port_directory.h"

#include <QMap>

// The mapping given on the command line with --port N=DEVICE: exactly those ports, every other
// port number names no device.
class ExplicitPortDirectory : public PortDirectory {
public:
    explicit ExplicitPortDirectory(QMap<int, QString> devices) : devices_(std::move(devices)) {}

    QString deviceFor(int portNumber) override { return devices_.value(portNumber); }

private:
    QMap<int, QString> devices_;
};
