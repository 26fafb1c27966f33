#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

// The way out to a serial device's descriptor: straight to the device while nothing waits,
// and a queue of what it has not taken, which goes as the device drains. Our own queue rather
// than Qt's, so that a close can finish a command the device has begun taking.
class PosixDeviceOutput : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The descriptor to write to from now on; -1 for none (the queue goes).
    void attach(int descriptor);

    // Returns how many of the bytes wait in the queue, or -1 when the write failed (failed()
    // has said why).
    qint64 write(const QByteArray& bytes);
    qint64 waiting() const { return queue_.size(); }
    // Hands the device what it takes of the queue now.
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
    qsizetype put(const char* data, qsizetype size, int* error);
    void setWatching(bool on);

    int descriptor_ = -1;
    QByteArray queue_;
    std::unique_ptr<QSocketNotifier> writable_;
};
