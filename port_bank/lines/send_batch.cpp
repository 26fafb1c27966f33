#include "port_bank/lines/send_batch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace {

// One timer for every holder: a timer started per line and batch would cost about what the
// batch saves. A zero-interval timer fires when the event loop looks at the system, not when
// only posted events are delivered, so a sweep's commands up to its next look go together.
class Flusher : public QObject {
public:
    explicit Flusher(QObject* parent) : QObject(parent)
    {
        timer_.setSingleShot(true);
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, &Flusher::flush);
    }

    void add(SendBatch::Holder* holder)
    {
        if (std::find(holders_.begin(), holders_.end(), holder) == holders_.end())
            holders_.push_back(holder);
        if (!timer_.isActive())
            timer_.start();
    }

    void remove(SendBatch::Holder* holder)
    {
        holders_.erase(std::remove(holders_.begin(), holders_.end(), holder), holders_.end());
    }

private:
    // One at a time: a send that fails loses its connection, and the port may close another
    // line or this one, which then leaves the list.
    void flush()
    {
        while (!holders_.empty()) {
            SendBatch::Holder* holder = holders_.front();
            holders_.erase(holders_.begin());
            holder->sendHeld();
        }
    }

    QTimer timer_;
    std::vector<SendBatch::Holder*> holders_;
};

QPointer<Flusher> flusher;

} // namespace

bool SendBatch::schedule(Holder* holder)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return false;
    if (!flusher)
        flusher = new Flusher(application);
    flusher->add(holder);
    return true;
}

void SendBatch::cancel(Holder* holder)
{
    if (flusher)
        flusher->remove(holder);
}
