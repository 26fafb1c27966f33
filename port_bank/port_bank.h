#pragma once

#include "port_bank/observer_fan_out.h"
#include "port_bank/port_errors.h"
#include "port_bank/send_gate.h"
#include "port_bank/serial_port.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>

class PortDirectory;

// The sixteen serial-port objects and the program's one last-error
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
    // The soonest any port asks to be asked again while its pending output is above level, in
    // nanoseconds from now; -1 when every port's own events tell.
    qint64 pendingRecheckNs(qint64 level) const;
    // Whether any port has a command waiting in this program's queue for its line.
    bool outputWaiting() const;
    // Hands every port's line what waits in its queue, as far as it takes it now.
    void pushOutput();

    // The device behind port index: the one open, or the one its port number names. Every port
    // object starts with port number 1, so this asks for index + 1 itself.
    QString devicePath(int index) const;

    // Tells observer of every port's traffic and events from now on, beside those already
    // told, until it is removed.
    void addObserver(PortObserver* observer) { observers_.add(observer); }
    void removeObserver(PortObserver* observer) { observers_.remove(observer); }
    const ObserverFanOut& observers() const { return observers_; }

    // Held while a status check waits for answers: the broadcast keeps what it is given.
    SendGate& sendGate() { return sendGate_; }

    // The opening pass found port index in use elsewhere (inUse) or not: the observer hears of
    // it when the port becomes in use, not again on every pass while it stays so.
    void noteInUse(int index, bool inUse);

    // The colour the opening pass gave port index's status label (0 before any pass tried it):
    // the run report states what the label shows.
    void noteShownColour(int index, std::uint32_t rgb) { shownColour_[std::size_t(index)] = rgb; }
    std::uint32_t shownColour(int index) const { return shownColour_[std::size_t(index)]; }

private:
    PortDirectory& directory_;
    std::array<std::unique_ptr<SerialPort>, kPortCount> ports_;
    std::array<bool, kPortCount> inUse_{};
    std::array<std::uint32_t, kPortCount> shownColour_{};
    ObserverFanOut observers_;
    SendGate sendGate_;
    LastError lastError_;
};
