#include "port_bank/observer_fan_out.h"

#include <algorithm>

void ObserverFanOut::add(PortObserver* observer)
{
    if (observer && !contains(observer))
        observers_.push_back(observer);
}

void ObserverFanOut::remove(PortObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

bool ObserverFanOut::contains(const PortObserver* observer) const
{
    return std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
}

void ObserverFanOut::commandSent(int index, const QByteArray& bytes)
{
    for (PortObserver* observer : observers_)
        observer->commandSent(index, bytes);
}

void ObserverFanOut::commandsSent(int index, std::span<const QByteArray> commands)
{
    for (PortObserver* observer : observers_)
        observer->commandsSent(index, commands);
}

void ObserverFanOut::bytesReceived(int index, const QByteArray& bytes)
{
    for (PortObserver* observer : observers_)
        observer->bytesReceived(index, bytes);
}

void ObserverFanOut::portEvent(int index, Event event, const QString& detail)
{
    for (PortObserver* observer : observers_)
        observer->portEvent(index, event, detail);
}

bool ObserverFanOut::isBehind() const
{
    return std::any_of(observers_.begin(), observers_.end(),
                       [](const PortObserver* observer) { return observer->isBehind(); });
}
