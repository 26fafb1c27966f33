#include "port_bank/port_bank.h"

#include "port_bank/lines/serial_line.h"
#include "port_bank/output_pacer.h"
#include "port_bank/port_directory.h"

#include <algorithm>

PortBank::PortBank(PortDirectory& directory, QObject* parent)
    : QObject(parent), directory_(directory)
{
    for (int i = 0; i < kPortCount; ++i) {
        auto& port = ports_[static_cast<std::size_t>(i)];
        port = std::make_unique<SerialPort>(directory, this);
        port->setObserver(&observers_, i);
    }
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
    const qint64 nowNs = SerialLine::nowNs(); // one clock reading for all of them
    for (int i = 0; i < kPortCount; ++i) {
        const SerialPort& port = *ports_[static_cast<std::size_t>(i)];
        pending[static_cast<std::size_t>(i)] =
            port.isOpen() ? port.pendingOutput(nowNs) : OutputPacer::kClosed;
    }
    return pending;
}

qint64 PortBank::pendingRecheckNs(qint64 level) const
{
    qint64 soonest = -1;
    for (const auto& port : ports_) {
        const qint64 ns = port->pendingRecheckNs(level);
        if (ns >= 0 && (soonest < 0 || ns < soonest))
            soonest = ns;
    }
    return soonest;
}

bool PortBank::outputWaiting() const
{
    return std::any_of(ports_.begin(), ports_.end(),
                       [](const auto& port) { return port->outputWaiting(); });
}

void PortBank::pushOutput()
{
    for (auto& port : ports_)
        port->pushOutput();
}

QString PortBank::devicePath(int index) const
{
    const SerialPort& port = *ports_[static_cast<std::size_t>(index)];
    return port.isOpen() ? port.devicePath() : directory_.deviceFor(index + 1);
}

void PortBank::noteInUse(int index, bool inUse)
{
    bool& was = inUse_[static_cast<std::size_t>(index)];
    if (inUse && !was)
        observers_.portEvent(index, PortObserver::Event::InUse, devicePath(index));
    was = inUse;
}
