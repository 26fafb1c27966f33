#include "port_bank/lines/posix_device_line.h"

#include "port_bank/lines/device_line.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QSerialPort::Parity toQt(SerialSettings::Parity parity)
{
    switch (parity) {
    case SerialSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case SerialSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case SerialSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case SerialSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    case SerialSettings::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(SerialSettings::StopBits stopBits)
{
    switch (stopBits) {
    case SerialSettings::StopBits::OneAndHalf:
        // termios knows no 1.5 stop bits; with 5 data bits a UART set to two sends 1.5.
    case SerialSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case SerialSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

// The device itself rather than a symbolic link to it: Qt names its lock file after the path
// it is given, so a second path to a device we hold would open it a second time.
// Returns "" when the path leads nowhere.
QString resolveDevicePath(const QString& path, bool* missing)
{
    char* resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    if (!resolved) {
        const int error = errno;
        *missing = error == ENOENT || error == ENOTDIR || error == ELOOP;
        if (!*missing)
            qWarning("realpath %s: %s", qPrintable(path), qPrintable(qt_error_string(error)));
        return {};
    }
    const QString result = QFile::decodeName(resolved);
    std::free(resolved);
    return result;
}

} // namespace

std::unique_ptr<SerialLine> makeDeviceLine(const QString& path)
{
    return std::make_unique<PosixDeviceLine>(path);
}

PosixDeviceLine::PosixDeviceLine(const QString& path, QObject* parent)
    : SerialLine(parent), path_(path)
{
    configure(settings_);
    port_.setReadBufferSize(kReadBound);
    connect(&port_, &QSerialPort::readyRead, this, [this] { takeBuffered(); });
    connect(&output_, &PosixDeviceOutput::written, this, &SerialLine::written);
    connect(&output_, &PosixDeviceOutput::failed, this, [this](int error) {
        if (hungUp())
            lose();
        else
            qWarning("write %s: %s", qPrintable(port_.portName()),
                     qPrintable(qt_error_string(error)));
    });
    connect(&port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

PosixDeviceLine::~PosixDeviceLine()
{
    // No signals from a half-destroyed object.
    port_.disconnect(this);
    close();
}

SerialLine::Opening PosixDeviceLine::open(const SerialSettings& settings)
{
    bool missing = false;
    const QString device = resolveDevicePath(path_, &missing);
    if (device.isEmpty())
        return missing ? Opening::NoSuchDevice : Opening::Failed;

    switch (lock_.acquire(device)) {
    case DeviceLock::Result::Taken:
        break;
    case DeviceLock::Result::Busy:
        return Opening::InUse;
    case DeviceLock::Result::Missing:
        return Opening::NoSuchDevice;
    case DeviceLock::Result::Denied:
    case DeviceLock::Result::Failed:
        emit warning(QStringLiteral("open %1: %2").arg(device, lock_.errorString()));
        return Opening::Failed;
    }
    settings_ = settings;
    configure(settings); // a closed port only stores them; the open applies them
    const Opening opening = openDevice(device);
    if (opening != Opening::Opened) {
        lock_.release();
        return opening;
    }
    gone_ = false;
    output_.attach(port_.handle());
    emit up();
    return Opening::Opened;
}

SerialLine::Opening PosixDeviceLine::openDevice(const QString& device)
{
    port_.setPortName(device);
    if (port_.open(QIODevice::ReadWrite))
        return Opening::Opened;
    const QSerialPort::SerialPortError error = port_.error();
    const QString reason = port_.errorString();
    port_.clearError();
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return Opening::NoSuchDevice;
    case QSerialPort::PermissionError:
        // We opened the device ourselves a moment ago, so this is not the file mode but a lock
        // file that a Qt program holds, or TIOCEXCL.
        return Opening::InUse;
    default:
        emit warning(QStringLiteral("open %1: %2").arg(device, reason));
        return Opening::Failed;
    }
}

bool PosixDeviceLine::isUp() const
{
    return holdsDevice() && !gone_;
}

bool PosixDeviceLine::holdsDevice() const
{
    return port_.openMode() != QIODevice::NotOpen;
}

void PosixDeviceLine::applySettings(const SerialSettings& settings)
{
    handOverHeld(); // what was written before goes under the settings it was written under
    if (settings != settings_ && !configure(settings)) {
        configure(settings_);
        port_.clearError();
        emit settingsAnswered(false);
        return;
    }
    settings_ = settings;
    emit settingsAnswered(true);
}

bool PosixDeviceLine::configure(const SerialSettings& s)
{
    return port_.setBaudRate(s.baudRate) && port_.setDataBits(QSerialPort::DataBits(s.dataBits)) &&
           port_.setParity(toQt(s.parity)) && port_.setStopBits(toQt(s.stopBits)) &&
           port_.setFlowControl(QSerialPort::NoFlowControl);
}

qint64 PosixDeviceLine::write(const QByteArray& bytes)
{
    return gone_ ? -1 : output_.write(bytes);
}

qint64 PosixDeviceLine::bytesToWrite() const
{
    return output_.waiting();
}

void PosixDeviceLine::collect()
{
    takeBuffered();
    drainDevice();
}

void PosixDeviceLine::pushOut()
{
    if (!gone_)
        output_.drain();
}

void PosixDeviceLine::handOverHeld()
{
    if (!gone_)
        output_.sendHeld();
}

void PosixDeviceLine::finish(qint64 bytes)
{
    if (!gone_)
        output_.finish(bytes);
}

qint64 PosixDeviceLine::close()
{
    int driverHeld = 0;
    output_.attach(-1);
    if (holdsDevice()) {
        // Drop what the driver still holds: the last close() would otherwise wait for it to
        // drain, up to 30 s on a line that does not move. Only then: a pty counts nothing here,
        // and its flush would throw away bytes that its far end still reads after the close.
        if (::ioctl(port_.handle(), TIOCOUTQ, &driverHeld) != 0)
            driverHeld = 0;
        if (driverHeld > 0 && ::tcflush(port_.handle(), TCOFLUSH) != 0 && errno != EIO)
            qWarning("tcflush %s: %s", qPrintable(port_.portName()),
                     qPrintable(qt_error_string(errno)));
        port_.close();
    }
    lock_.release();
    gone_ = false;
    return driverHeld;
}

void PosixDeviceLine::onPortError(QSerialPort::SerialPortError error)
{
    if (gone_ || !holdsDevice())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::DeviceNotFoundError:
        break;
    default:
        return;
    }
    // A hung-up line reads as end of file, which Qt reports as a read error again and again
    // (hundreds of thousands a second) while it keeps the port open. An error on a line that
    // is still up (a read that found nothing) is harmless.
    if (hungUp())
        lose();
    else
        port_.clearError();
}

bool PosixDeviceLine::hungUp() const
{
    pollfd line{port_.handle(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&line, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        qWarning("poll %s: %s", qPrintable(port_.portName()), qPrintable(qt_error_string(errno)));
        return false;
    }
    return (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void PosixDeviceLine::lose()
{
    gone_ = true;
    emit lost();
}

void PosixDeviceLine::takeBuffered()
{
    if (port_.bytesAvailable() > 0)
        emit dataArrived(port_.readAll());
}

// Takes what the driver holds beyond Qt's buffer. More than the read bound would only push out
// what was just read, so it stops there.
void PosixDeviceLine::drainDevice()
{
    constexpr qsizetype kChunk = 16 * 1024;
    char chunk[kChunk];
    qsizetype taken = 0;
    while (taken < kReadBound && !gone_) {
        const ssize_t got = ::read(port_.handle(), chunk, kChunk);
        const int readError = errno;
        if (got > 0) {
            taken += got;
            emit dataArrived(QByteArray::fromRawData(chunk, got));
            continue;
        }
        if (got < 0 && readError == EINTR)
            continue;
        if (got < 0 && readError == EAGAIN)
            return;
        // In raw mode an empty line and a hung-up one both read as 0 bytes.
        if (hungUp())
            lose();
        else if (got < 0)
            qWarning("read %s: %s", qPrintable(port_.portName()),
                     qPrintable(qt_error_string(readError)));
        return;
    }
}
