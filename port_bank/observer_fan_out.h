#pragma once

#include "port_bank/port_observer.h"

#include <vector>

// Hands each of the bank's calls to every observer added, in the order they were added: the
// session log, the status check and the run record all watch the same ports, each with or
// without the others.
class ObserverFanOut : public PortObserver {
public:
    void add(PortObserver* observer);
    void remove(PortObserver* observer);
    bool isEmpty() const { return observers_.empty(); }
    bool contains(const PortObserver* observer) const;

    void commandSent(int index, const QByteArray& bytes) override;
    void commandsSent(int index, std::span<const QByteArray> commands) override;
    void bytesReceived(int index, const QByteArray& bytes) override;
    void portEvent(int index, Event event, const QString& detail) override;
    bool isBehind() const override;

private:
    std::vector<PortObserver*> observers_;
};
