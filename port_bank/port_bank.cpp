#include "port_bank/port_bank.h"

#include "port_bank/output_pacer.h"

PortBank::PortBank(PortDirectory& directory, QObject* parent) : QObject(parent)
{
    for (auto& port : ports_)
        port = std::make_unique<SerialPort>(directory, this);
}

PortBank::~PortBank() = default;

void PortBank::shutDown()
{
    for (auto& port : ports_)
        port->retire();
}

std::array<qint64, PortBank::kPortCount> PortBank::pendingOutputByPort() const
{
    std::array<qint64, kPortCount> pending{};
    for (int i = 0; i < kPortCount; ++i) {
        const SerialPort& port = *ports_[static_cast<std::size_t>(i)];
        pending[static_cast<std::size_t>(i)] =
            port.isOpen() ? port.pendingOutput() : OutputPacer::kClosed;
    }
    return pending;
}
