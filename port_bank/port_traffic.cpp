#include "port_bank/port_traffic.h"

#include "port_bank/port_observer.h"

#include <QDateTime>

PortTraffic::PortTraffic() : ring_(kReceiveBound) {}

void PortTraffic::setObserver(PortObserver* observer, int index)
{
    observer_ = observer;
    index_ = index;
}

void PortTraffic::opened(int portNumber, const QString& device, const QString& settings)
{
    portNumber_ = portNumber;
    ring_.clear();
    decoder_ = WireDecoder();
    droppedSinceTake_ = 0;
    const bool returned = lostSinceOpen_;
    lostSinceOpen_ = false;
    if (returned)
        ++counters_.returns;
    if (observer_)
        observer_->portEvent(index_,
                             returned ? PortObserver::Event::Returned : PortObserver::Event::Opened,
                             settings.isEmpty() ? device : device + QLatin1Char(' ') + settings);
}

void PortTraffic::lost(const QString& device)
{
    ++counters_.losses;
    lostSinceOpen_ = true;
    if (observer_)
        observer_->portEvent(index_, PortObserver::Event::Lost, device);
}

void PortTraffic::count(const QByteArray& bytes)
{
    ++counters_.commandsSent;
    counters_.bytesSent += std::uint64_t(bytes.size());
}

void PortTraffic::sent(const QByteArray& bytes)
{
    count(bytes);
    if (observer_)
        observer_->commandSent(index_, bytes);
}

void PortTraffic::queued(const QByteArray& bytes, qint64 waiting)
{
    waiting_.push_back({bytes, waiting});
}

void PortTraffic::written(qint64 bytes)
{
    while (bytes > 0 && !waiting_.empty()) {
        Waiting& first = waiting_.front();
        const qint64 taken = std::min(bytes, first.unwritten);
        first.unwritten -= taken;
        bytes -= taken;
        if (first.unwritten > 0)
            break;
        count(first.bytes);
        justSent_.push_back(std::move(first.bytes));
        waiting_.pop_front();
    }
    // A write takes a dozen commands or more in a fast sweep: the observers hear of them once.
    if (observer_ && !justSent_.empty())
        observer_->commandsSent(index_, justSent_);
    justSent_.clear();
}

qint64 PortTraffic::unwrittenOfStarted() const
{
    if (waiting_.empty() || waiting_.front().unwritten == waiting_.front().bytes.size())
        return 0;
    return waiting_.front().unwritten;
}

void PortTraffic::discardWaiting(qint64 driverBytes)
{
    qint64 unwritten = 0;
    for (const Waiting& command : waiting_)
        unwritten += command.unwritten;
    const auto commands = qulonglong(waiting_.size());
    waiting_.clear();
    if ((unwritten == 0 && driverBytes == 0) || !observer_)
        return;
    QString detail = QStringLiteral("%1 bytes of %2 commands").arg(unwritten).arg(commands);
    if (driverBytes > 0)
        detail += QStringLiteral(", and %1 bytes counted as sent that the driver still held")
                      .arg(driverBytes);
    observer_->portEvent(index_, PortObserver::Event::Discarded, detail);
}

void PortTraffic::received(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    counters_.bytesReceived += std::uint64_t(bytes.size());
    counters_.lastReceivedMs = QDateTime::currentMSecsSinceEpoch();
    if (observer_)
        observer_->bytesReceived(index_, bytes);
    droppedSinceTake_ += ring_.append(bytes);
}

QString PortTraffic::takeText()
{
    if (droppedSinceTake_ > 0) {
        // The decoder may hold the first bytes of a character whose rest was dropped: they go
        // too, and count with the rest.
        droppedSinceTake_ += decoder_.heldBytes();
        decoder_ = WireDecoder();
        counters_.bytesDropped += std::uint64_t(droppedSinceTake_);
        if (!warnedOfDrops_) {
            warnedOfDrops_ = true;
            qWarning("port %d: more than %lld bytes arrived between two reads; the oldest are "
                     "dropped (warned once)",
                     portNumber_, static_cast<long long>(kReceiveBound));
        }
        if (observer_)
            observer_->portEvent(index_, PortObserver::Event::Dropped,
                                 QString::number(droppedSinceTake_));
        droppedSinceTake_ = 0;
    }
    if (ring_.size() == 0)
        return QString();
    return decoder_.decode(ring_.takeAll());
}
