#include "port_bank/lines/posix_device_output.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <poll.h>
#include <unistd.h>
#include <utility>

PosixDeviceOutput::~PosixDeviceOutput()
{
    SendBatch::cancel(this);
}

void PosixDeviceOutput::attach(int descriptor)
{
    writable_.reset(); // before the descriptor it watches goes
    SendBatch::cancel(this);
    batch_.clear();
    queue_.clear();
    descriptor_ = descriptor;
    if (descriptor < 0)
        return;
    writable_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    writable_->setEnabled(false);
    connect(writable_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
}

qint64 PosixDeviceOutput::write(const QByteArray& bytes)
{
    if (descriptor_ < 0)
        return -1;
    if (queue_.isEmpty() && batch_.size() + bytes.size() <= kBatchBytes &&
        (!batch_.isEmpty() || SendBatch::schedule(this))) {
        batch_.append(bytes);
        return bytes.size();
    }
    sendHeld();
    return writeNow(bytes);
}

void PosixDeviceOutput::sendHeld()
{
    SendBatch::cancel(this);
    if (batch_.isEmpty() || descriptor_ < 0)
        return;
    const QByteArray bytes = std::exchange(batch_, QByteArray());
    const qint64 left = writeNow(bytes);
    if (left < 0) {
        // Tried again with the next write or drain.
        queue_ = bytes;
        return;
    }
    if (left < bytes.size())
        emit written(bytes.size() - left);
}

// Straight to the device while nothing waits before it; what it does not take is queued.
qint64 PosixDeviceOutput::writeNow(const QByteArray& bytes)
{
    qsizetype taken = 0;
    if (queue_.isEmpty()) {
        int error = 0;
        taken = put(bytes.constData(), bytes.size(), &error);
        if (taken < 0) {
            emit failed(error);
            return -1;
        }
        if (taken == bytes.size())
            return 0;
    }
    queue_.append(bytes.constData() + taken, bytes.size() - taken);
    setWatching(true);
    return bytes.size() - taken;
}

void PosixDeviceOutput::drain()
{
    sendHeld();
    if (queue_.isEmpty() || descriptor_ < 0) {
        setWatching(false);
        return;
    }
    int error = 0;
    const qsizetype taken = put(queue_.constData(), queue_.size(), &error);
    if (taken < 0) {
        // Tried again with the next write or drain, not each time the device looks writable.
        setWatching(false);
        emit failed(error);
        return;
    }
    if (taken == 0)
        return;
    queue_.remove(0, taken); // cheap at the front
    if (queue_.isEmpty())
        setWatching(false);
    emit written(taken);
}

void PosixDeviceOutput::finish(qint64 bytes)
{
    constexpr int kStallMs = 20;     // a device that takes nothing for this long is given up
    constexpr int kDeadlineMs = 500; // and so is one that takes the rest too slowly
    const QDeadlineTimer deadline(kDeadlineMs);
    bytes = qMin<qint64>(bytes, queue_.size());
    while (bytes > 0 && descriptor_ >= 0 && !deadline.hasExpired()) {
        int error = 0;
        const qsizetype taken = put(queue_.constData(), qsizetype(bytes), &error);
        if (taken < 0)
            return; // what becomes of the rest is the close's to say
        if (taken > 0) {
            queue_.remove(0, taken);
            bytes -= taken;
            emit written(taken);
            continue;
        }
        pollfd device{descriptor_, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&device, 1, kStallMs);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0)
            qWarning("poll: %s", qPrintable(qt_error_string(errno)));
        if (ready <= 0 || (device.revents & POLLOUT) == 0)
            return;
    }
}

// What the device takes of these bytes now, 0 when it takes none; -1 and the errno when the
// write failed.
qsizetype PosixDeviceOutput::put(const char* data, qsizetype size, int* error)
{
    ssize_t put;
    do {
        put = ::write(descriptor_, data, size_t(size));
    } while (put < 0 && errno == EINTR);
    if (put >= 0)
        return put;
    if (errno == EAGAIN)
        return 0;
    *error = errno;
    return -1;
}

void PosixDeviceOutput::setWatching(bool on)
{
    if (writable_ && writable_->isEnabled() != on)
        writable_->setEnabled(on);
}
