#pragma once

#include "port_bank/port_errors.h"
#include "port_bank/serial_port.h"

#include <QObject>
#include <array>
#include <memory>

class PortDirectory;

// The sixteen serial-port objects (MSComm1(0) to MSComm1(15)) and the program's one last-error
// code. Port index i is always port number i + 1.
class PortBank : public QObject {
    Q_OBJECT
public:
    static constexpr int kPortCount = 16;

    explicit PortBank(PortDirectory& directory, QObject* parent = nullptr);
    ~PortBank() override;

    SerialPort& port(int index) { return *ports_[static_cast<std::size_t>(index)]; }

    LastError& lastError() { return lastError_; }

    // The program is ending: every port is closed and its locks released, and from now on no
    // port opens or writes again, even from a handler that is still unwinding.
    void shutDown();

    // Output still waiting for its line, per port; OutputPacer::kClosed for a closed port.
    std::array<qint64, kPortCount> pendingOutputByPort() const;

private:
    std::array<std::unique_ptr<SerialPort>, kPortCount> ports_;
    LastError lastError_;
};
