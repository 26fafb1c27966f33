#include "port_bank/serial_port.h"

#include "port_bank/network_address.h"
#include "port_bank/network_link.h"
#include "port_bank/port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/port_traffic.h"
#include "port_bank/wire_text.h"

#include <QFile>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include "port_bank/device_lock.h"

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

const QString kDefaultSettings = QStringLiteral("115200,n,8,1");

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
#ifdef Q_OS_UNIX
        // termios knows no 1.5 stop bits; with 5 data bits a UART set to two sends 1.5.
        return QSerialPort::TwoStop;
#else
        return QSerialPort::OneAndHalfStop;
#endif
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
#ifdef Q_OS_UNIX
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
#else
    *missing = false;
    return path;
#endif
}

} // namespace

class SerialPort::Private {
public:
    Private(SerialPort* owner, PortDirectory& portDirectory) : q(owner), directory(portDirectory) {}

    bool applySettings(const SerialSettings& s);
    void releaseDevice();
    void warnOnce(const QString& message);

    void onPortError(QSerialPort::SerialPortError error);
    bool lineHungUp() const;
    void beginLoss();
    void completeLoss();
    void drainDevice();
    void takeReceived();
    qint64 send(const QByteArray& bytes, qint64 queued);

    // A port whose device is a network address: the connection stands in for the device.
    std::int32_t openNetwork(const QString& path);
    void makeLink(const NetworkAddress& address, const QString& path);
    QString deviceName() const { return link ? linkPath : port.portName(); }

    SerialPort* q;
    PortDirectory& directory;
    QSerialPort port;
#ifdef Q_OS_UNIX
    DeviceLock lock;
#endif
    int commPort = 1;
    QString settingsText = kDefaultSettings;
    SerialSettings settings;
    QString boundPath; // the directory's path of the open device
    // Counters, observer and the received bytes kept between polls: the part of a port that
    // does not depend on its link. Qt's read buffer is emptied into it at every read: Qt keeps a
    // 32 KiB block for every read it makes while earlier bytes are unread.
    PortTraffic traffic;
    QString lastWarning;
    bool retired = false;
    // The device has gone; the port reads as closed and is closed for good on the next turn of
    // the event loop, outside the QSerialPort code that reported it.
    bool lossPending = false;
    // The connection of a port bound to a network address, and that address as the directory
    // gives it; none for a local device. Last, so that it goes first: its signals reach the
    // members above.
    QString linkPath;
    std::unique_ptr<NetworkLink> link;
};

bool SerialPort::Private::applySettings(const SerialSettings& s)
{
    // On a closed port these only store the values; open() applies them.
    return port.setBaudRate(s.baudRate) && port.setDataBits(QSerialPort::DataBits(s.dataBits)) &&
           port.setParity(toQt(s.parity)) && port.setStopBits(toQt(s.stopBits)) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

void SerialPort::Private::releaseDevice()
{
    if (port.isOpen()) {
        int driverHeld = 0;
#ifdef Q_OS_UNIX
        // Drop what the driver still holds: the last close() would otherwise wait for it to
        // drain, up to 30 s on a line that does not move. Only then: a pty counts nothing here,
        // and its flush would throw away bytes that its far end still reads after the close.
        if (::ioctl(port.handle(), TIOCOUTQ, &driverHeld) != 0)
            driverHeld = 0;
        if (driverHeld > 0 && ::tcflush(port.handle(), TCOFLUSH) != 0 && errno != EIO)
            qWarning("tcflush %s: %s", qPrintable(port.portName()),
                     qPrintable(qt_error_string(errno)));
#endif
        // Qt's output queue goes with the close.
        traffic.discardWaiting(driverHeld);
        port.close();
    }
#ifdef Q_OS_UNIX
    lock.release();
#endif
    if (link)
        link->close();
    boundPath.clear();
}

// The opening pass retries every second: say what goes wrong once, not every second.
void SerialPort::Private::warnOnce(const QString& message)
{
    if (message == lastWarning)
        return;
    lastWarning = message;
    qWarning("%s", qPrintable(message));
}

void SerialPort::Private::onPortError(QSerialPort::SerialPortError error)
{
    if (lossPending || !port.isOpen())
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
    if (lineHungUp())
        beginLoss();
    else
        port.clearError();
}

bool SerialPort::Private::lineHungUp() const
{
#ifdef Q_OS_UNIX
    pollfd line{port.handle(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&line, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        qWarning("poll %s: %s", qPrintable(port.portName()), qPrintable(qt_error_string(errno)));
        return false;
    }
    return (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

void SerialPort::Private::beginLoss()
{
    lossPending = true;
    qWarning("%s: device lost", qPrintable(deviceName()));
    QMetaObject::invokeMethod(
        q, [this] { completeLoss(); }, Qt::QueuedConnection);
}

void SerialPort::Private::completeLoss()
{
    if (!lossPending)
        return;
    // Still set while closing, so that errors raised by the close itself are not taken for a
    // second loss.
    traffic.lost(boundPath);
    releaseDevice();
    lossPending = false;
    emit q->deviceLost();
}

// Takes what the driver holds beyond Qt's buffer, so that a read returns everything received so
// far even when the event loop has not run since. More than the receive bound would only push
// out what was just read, so it stops there.
void SerialPort::Private::drainDevice()
{
#ifdef Q_OS_UNIX
    constexpr qsizetype kChunk = 16 * 1024;
    char chunk[kChunk];
    qsizetype taken = 0;
    while (taken < PortTraffic::kReceiveBound) {
        const ssize_t got = ::read(port.handle(), chunk, kChunk);
        const int readError = errno;
        if (got > 0) {
            taken += got;
            traffic.received(QByteArray::fromRawData(chunk, got));
            continue;
        }
        if (got < 0 && readError == EINTR)
            continue;
        if (got < 0 && readError == EAGAIN)
            return;
        // In raw mode an empty line and a hung-up one both read as 0 bytes.
        if (lineHungUp())
            beginLoss();
        else if (got < 0)
            qWarning("read %s: %s", qPrintable(port.portName()),
                     qPrintable(qt_error_string(readError)));
        return;
    }
#endif
}

void SerialPort::Private::takeReceived()
{
    if (port.bytesAvailable() > 0)
        traffic.received(port.readAll());
}

// Straight to the device while nothing waits before it; what the device does not take at once
// goes to Qt's queue, which writes it as the line drains.
// Returns how many of the bytes wait in Qt's queue, or -1 when the write failed.
qint64 SerialPort::Private::send(const QByteArray& bytes, qint64 queued)
{
    if (link)
        return link->write(bytes) ? 0 : -1;
    qsizetype written = 0;
#ifdef Q_OS_UNIX
    if (queued == 0) {
        ssize_t put;
        do {
            put = ::write(port.handle(), bytes.constData(), size_t(bytes.size()));
        } while (put < 0 && errno == EINTR);
        if (put < 0 && errno != EAGAIN) {
            const int writeError = errno;
            if (lineHungUp())
                beginLoss();
            else
                qWarning("write %s: %s", qPrintable(port.portName()),
                         qPrintable(qt_error_string(writeError)));
            return -1;
        }
        written = qMax<qsizetype>(put, 0);
        if (written == bytes.size())
            return 0;
    }
#endif
    const qsizetype rest = bytes.size() - written;
    if (port.write(bytes.constData() + written, rest) != rest) {
        port.clearError();
        return -1;
    }
    return rest;
}

// Starts a connection (at most one a second; never waits for it) and says how the last one
// ended, in the numbers a local device uses: the port counts as open once the link is up.
std::int32_t SerialPort::Private::openNetwork(const QString& path)
{
    if (!link || linkPath != path) {
        QString why;
        const std::optional<NetworkAddress> address = NetworkAddress::parse(path, &why);
        if (!address) {
            warnOnce(QStringLiteral("port %1: %2").arg(commPort).arg(why));
            return PortError::OpenFailed;
        }
        makeLink(*address, path);
    }
    link->connectToLine(settings);
    switch (link->outcome()) {
    case NetworkLink::Outcome::InUse:
        return PortError::AlreadyOpen;
    case NetworkLink::Outcome::Failed:
        return PortError::OpenFailed;
    case NetworkLink::Outcome::None:        // the first connection is still under way
    case NetworkLink::Outcome::Connected:   // closed by us since
    case NetworkLink::Outcome::Unreachable: // nothing listens, unknown host, no answer
    case NetworkLink::Outcome::Lost:
        break;
    }
    return PortError::NoSuchPort;
}

void SerialPort::Private::makeLink(const NetworkAddress& address, const QString& path)
{
    link = std::make_unique<NetworkLink>(address);
    linkPath = path;
    NetworkLink* made = link.get();
    QObject::connect(made, &NetworkLink::up, q, [this] {
        boundPath = linkPath;
        lastWarning.clear();
        traffic.opened(commPort, linkPath, settingsText);
    });
    QObject::connect(made, &NetworkLink::dataArrived, q,
                     [this](const QByteArray& bytes) { traffic.received(bytes); });
    QObject::connect(made, &NetworkLink::lost, q, [this] {
        if (!lossPending)
            beginLoss();
    });
    QObject::connect(made, &NetworkLink::attemptFailed, q, [this] {
        if (link->outcome() == NetworkLink::Outcome::Failed)
            warnOnce(QStringLiteral("%1: %2").arg(linkPath, link->errorString()));
    });
}

SerialPort::SerialPort(PortDirectory& directory, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, directory))
{
    d->applySettings(d->settings);
    d->port.setReadBufferSize(PortTraffic::kReceiveBound);
    connect(&d->port, &QSerialPort::readyRead, this, [this] { d->takeReceived(); });
    connect(&d->port, &QSerialPort::bytesWritten, this,
            [this](qint64 bytes) { d->traffic.written(bytes); });
    connect(&d->port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { d->onPortError(error); });
}

SerialPort::~SerialPort()
{
    // No signals from a half-destroyed object.
    d->port.disconnect(this);
    d->releaseDevice();
}

std::int32_t SerialPort::setCommPort(int portNumber)
{
    if (isOpen())
        return PortError::AlreadyOpen;
    if (portNumber < 1 || portNumber > PortDirectory::kPortCount)
        return PortError::InvalidValue;
    d->commPort = portNumber;
    return PortError::None;
}

int SerialPort::commPort() const
{
    return d->commPort;
}

std::int32_t SerialPort::setSettings(const QString& text)
{
    // The opening pass writes the same text to every open port every second. A far line
    // answers a new text later than this call returns; a refusal (or no answer) shows on the
    // writes that follow, as a local device's refusal does on every pass.
    if (text == d->settingsText) {
        if (d->link && d->link->isUp() &&
            d->link->lineSettings() == NetworkLink::LineSettings::Refused)
            return PortError::SettingsFailed;
        return PortError::None;
    }
    const std::optional<SerialSettings> parsed = parseSerialSettings(text);
    if (!parsed)
        return PortError::InvalidValue;
    if (d->link) {
        d->link->applySettings(*parsed);
    } else if (*parsed != d->settings && !d->applySettings(*parsed)) {
        d->applySettings(d->settings);
        d->port.clearError();
        return PortError::SettingsFailed;
    }
    d->settingsText = text;
    d->settings = *parsed;
    return PortError::None;
}

QString SerialPort::settings() const
{
    return d->settingsText;
}

std::int32_t SerialPort::open()
{
    if (d->retired)
        return PortError::OpenFailed;
    if (d->lossPending)
        d->completeLoss();
    if (isOpen())
        return PortError::AlreadyOpen;

    const QString path = d->directory.deviceFor(d->commPort);
    if (path.isEmpty())
        return PortError::NoSuchPort;
    if (NetworkAddress::isNetworkDevice(path))
        return d->openNetwork(path);
    if (d->link) {
        // Settings given while the number named a network line went to that line only.
        d->link.reset();
        d->applySettings(d->settings);
    }
    bool missing = false;
    const QString device = resolveDevicePath(path, &missing);
    if (device.isEmpty())
        return missing ? PortError::NoSuchPort : PortError::OpenFailed;

#ifdef Q_OS_UNIX
    switch (d->lock.acquire(device)) {
    case DeviceLock::Result::Taken:
        break;
    case DeviceLock::Result::Busy:
        return PortError::AlreadyOpen;
    case DeviceLock::Result::Missing:
        return PortError::NoSuchPort;
    case DeviceLock::Result::Denied:
    case DeviceLock::Result::Failed:
        d->warnOnce(QStringLiteral("open %1: %2").arg(device, d->lock.errorString()));
        return PortError::OpenFailed;
    }
#endif

    d->port.setPortName(device);
    if (!d->port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = d->port.error();
        const QString reason = d->port.errorString();
        d->port.clearError();
#ifdef Q_OS_UNIX
        d->lock.release();
#endif
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return PortError::NoSuchPort;
        case QSerialPort::PermissionError:
            // We opened the device ourselves a moment ago, so this is not the file mode but a
            // lock file that a Qt program holds, or TIOCEXCL.
            return PortError::AlreadyOpen;
        default:
            d->warnOnce(QStringLiteral("open %1: %2").arg(device, reason));
            return PortError::OpenFailed;
        }
    }

    d->boundPath = path;
    d->lastWarning.clear();
    d->traffic.opened(d->commPort, path, d->settingsText);
    return PortError::None;
}

bool SerialPort::isOpen() const
{
    return (d->port.isOpen() || (d->link && d->link->isUp())) && !d->lossPending;
}

void SerialPort::close()
{
    if (d->lossPending)
        d->completeLoss();
    else
        d->releaseDevice();
}

void SerialPort::retire()
{
    d->retired = true;
    close();
}

std::int32_t SerialPort::output(const QString& text)
{
    if (!isOpen())
        return PortError::NotOpen;
    return outputEncoded(encodeForWire(text));
}

std::int32_t SerialPort::outputEncoded(const QByteArray& bytes)
{
    if (!isOpen())
        return PortError::NotOpen;
    if (bytes.isEmpty())
        return PortError::None;
    // Qt would queue without limit for a device or a connection that does not drain.
    const qint64 queued = pendingOutput();
    if (queued + bytes.size() > kOutputLimit)
        return PortError::OutputFull;
    const qint64 waiting = d->send(bytes, queued);
    if (waiting < 0)
        return PortError::WriteFailed;
    // Counted and told once it reached the device: what waits in Qt's queue may be thrown away.
    if (waiting == 0)
        d->traffic.sent(bytes);
    else
        d->traffic.queued(bytes, waiting);
    return PortError::None;
}

std::int32_t SerialPort::input(QString& received)
{
    if (!isOpen())
        return PortError::NotOpen;
    // A connection hands over what arrives as it arrives; a device is read here too.
    if (!d->link) {
        d->takeReceived();
        d->drainDevice();
    }
    // The decoder keeps the first bytes of a character cut between two reads for the next one.
    received = d->traffic.takeText();
    return PortError::None;
}

qint64 SerialPort::pendingOutput() const
{
    if (!isOpen())
        return 0;
    return d->link ? d->link->bytesToWrite() : d->port.bytesToWrite();
}

const PortCounters& SerialPort::counters() const
{
    return d->traffic.counters();
}

void SerialPort::setObserver(PortObserver* observer, int index)
{
    d->traffic.setObserver(observer, index);
}

QString SerialPort::devicePath() const
{
    if (isOpen())
        return d->boundPath;
    return d->directory.deviceFor(d->commPort);
}
