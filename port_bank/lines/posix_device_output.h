#pragma once

#include "port_bank/lines/send_batch.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

// The way out to a serial device's descriptor. While the device keeps up, the commands of one
// turn of the event loop go to it in one write (SendBatch): a fast sweep makes a sixth of the
// system calls. What the device does not take waits in a queue of our own rather than Qt's,
// so that a close can finish a command the device has begun taking, and goes as it drains.
class PosixDeviceOutput : public QObject, public SendBatch::Holder {
    Q_OBJECT
public:
    // Bytes held for one write at most: under the fast sweep's low-water mark, so that holding
    // never makes the sweep wait.
    static constexpr qsizetype kBatchBytes = 512;

    using QObject::QObject;
    ~PosixDeviceOutput();

    // The descriptor to write to from now on; -1 for none (the queue goes).
    void attach(int descriptor);

    // Returns how many of the bytes wait in the queue, or -1 when the write failed (failed()
    // has said why).
    qint64 write(const QByteArray& bytes);
    // Bytes not yet taken by the device, held ones included.
    qint64 waiting() const { return queue_.size() + batch_.size(); }
    // Of those, the whole commands held until the end of the turn.
    qint64 held() const { return batch_.size(); }
    // Hands the device what is held, at once.
    void sendHeld() override;
    // Hands the device what it takes of what waits now.
    void drain();
    // Hands the device the first `bytes` of the queue while it keeps taking them, for a short
    // while at most.
    void finish(qint64 bytes);

signals:
    // Bytes of the queue that the device has now taken, oldest first.
    void written(qint64 bytes);
    // A write failed with this errno.
    void failed(int error);

private:
    qint64 writeNow(const QByteArray& bytes);
    qsizetype put(const char* data, qsizetype size, int* error);
    void setWatching(bool on);

    int descriptor_ = -1;
    QByteArray queue_;
    // Written since the event loop last looked at the system, while the queue was empty.
    QByteArray batch_;
    std::unique_ptr<QSocketNotifier> writable_;
};
