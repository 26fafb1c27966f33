#include "port_bank/port_bank.h"

#include "port_bank/output_pacer.h"
#include "port_bank/port_directory.h"
#include "port_bank/port_observer.h"

PortBank::PortBank(PortDirectory& directory, QObject* parent)
    : QObject(parent), directory_(directory)
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

QString PortBank::devicePath(int index) const
{
    const SerialPort& port = *ports_[static_cast<std::size_t>(index)];
    return port.isOpen() ? port.devicePath() : directory_.deviceFor(index + 1);
}

void PortBank::setObserver(PortObserver* observer)
{
    observer_ = observer;
    for (int i = 0; i < kPortCount; ++i)
        ports_[static_cast<std::size_t>(i)]->setObserver(observer, i);
}

void PortBank::noteInUse(int index, bool inUse)
{
    bool& was = inUse_[static_cast<std::size_t>(index)];
    if (inUse && !was && observer_)
        observer_->portEvent(index, PortObserver::Event::InUse, devicePath(index));
    was = inUse;
}
