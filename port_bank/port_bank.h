#pragma once

#include "port_bank/port_errors.h"
#include "port_bank/serial_port.h"

#include <QObject>
#include <array>
#include <memory>

class PortDirectory;
class PortObserver;

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

    // The device behind port index: the one open, or the one its port number names. Every port
    // object starts with port number 1, so this asks for index + 1 itself.
    QString devicePath(int index) const;

    // Tells observer (nullptr: nobody) of every port's traffic and events from now on.
    void setObserver(PortObserver* observer);
    PortObserver* observer() const { return observer_; }

    // The opening pass found port index in use elsewhere (inUse) or not: the observer hears of
    // it when the port becomes in use, not again on every pass while it stays so.
    void noteInUse(int index, bool inUse);

private:
    PortDirectory& directory_;
    std::array<std::unique_ptr<SerialPort>, kPortCount> ports_;
    std::array<bool, kPortCount> inUse_{};
    PortObserver* observer_ = nullptr;
    LastError lastError_;
};
