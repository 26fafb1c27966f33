#include "simulator/simulated_port.h"

#include "simulator/device_opens.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

std::int64_t simulatorNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SimulatedPort::SimulatedPort(int number, const SimulatedController::Options& options,
                             const QString& linkPath, int replyDelayMs, QObject* parent)
    : QObject(parent), number_(number), controller_(options), linkPath_(linkPath),
      replyDelayMs_(replyDelayMs)
{
    delayTimer_.setSingleShot(true);
    delayTimer_.setTimerType(Qt::PreciseTimer);
    connect(&delayTimer_, &QTimer::timeout, this, &SimulatedPort::sendDue);
}

SimulatedPort::~SimulatedPort()
{
    closeDevice();
    if (!linkPath_.isEmpty())
        ::unlink(QFile::encodeName(linkPath_).constData());
}

bool SimulatedPort::fail(const char* what)
{
    error_ = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                          QString::fromLocal8Bit(std::strerror(errno)));
    closeDevice();
    return false;
}

bool SimulatedPort::open()
{
    closeDevice();
    char name[PATH_MAX];
    int slave = -1;
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        return fail("openpty");
    // Raw from the start, so that nothing written before the other side sets its own mode is
    // echoed or changed on the way. The mode stays with the device when our side is closed;
    // from then on the line is open exactly while a client has it open.
    termios tio;
    const bool raw = ::tcgetattr(slave, &tio) == 0 &&
                     (::cfmakeraw(&tio), ::tcsetattr(slave, TCSANOW, &tio) == 0);
    const int rawErrno = errno;
    if (::close(slave) != 0)
        return fail("close");
    errno = rawErrno;
    if (!raw)
        return fail("tcsetattr");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl O_NONBLOCK");
    if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0)
        return fail("fcntl FD_CLOEXEC");
    if (!opens_)
        opens_ = DeviceOpens::forThisThread();
    openWatch_ = opens_->watch(QFile::decodeName(name), [this] { watchForClient(); });
    if (openWatch_ == 0)
        return fail("watching the device's opens");
    devicePath_ = QFile::decodeName(name);

    if (!linkPath_.isEmpty()) {
        // A new link beside the old one, renamed over it: the name is never missing while the
        // device is present, and a stale link from an earlier run is replaced.
        const QByteArray link = QFile::encodeName(linkPath_);
        const QByteArray fresh = link + ".new";
        ::unlink(fresh.constData());
        if (::symlink(name, fresh.constData()) != 0)
            return fail("symlink");
        if (::rename(fresh.constData(), link.constData()) != 0) {
            ::unlink(fresh.constData());
            return fail("rename link");
        }
    }
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    notifier_->setEnabled(false); // until a client opens the line
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimulatedPort::readLine);
    error_.clear();
    return true;
}

void SimulatedPort::closeDevice()
{
    notifier_.reset();
    client_ = false;
    if (openWatch_ != 0)
        opens_->unwatch(openWatch_);
    openWatch_ = 0;
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void SimulatedPort::vanish()
{
    // The link goes first: whoever looks for the device finds nothing from now on.
    if (!linkPath_.isEmpty())
        ::unlink(QFile::encodeName(linkPath_).constData());
    closeDevice();
}

bool SimulatedPort::clientOnLine() const
{
    if (master_ < 0)
        return false;
    // With no client the line reads as hung up.
    pollfd line{master_, POLLIN, 0};
    if (::poll(&line, 1, 0) < 0) {
        qWarning("port %d: poll: %s", number_, std::strerror(errno));
        return true;
    }
    return (line.revents & POLLHUP) == 0;
}

void SimulatedPort::watchForClient()
{
    // An open is only news to look: whether a client is on the line is the line's to say.
    client_ = notifier_ && clientOnLine();
    if (client_)
        notifier_->setEnabled(true);
}

void SimulatedPort::lineClosed()
{
    // A real line keeps nothing for the next one who opens it. What the last client left
    // unread waits on the device's side, where only the device's own flush reaches it.
    notifier_->setEnabled(false);
    const int device = ::open(QFile::encodeName(devicePath_).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0 || ::tcflush(device, TCIFLUSH) != 0)
        qWarning("port %d: discarding what the last client left unread: %s", number_,
                 std::strerror(errno));
    if (device >= 0)
        ::close(device);
    watchForClient(); // our own open woke it; the next client may be there already
}

void SimulatedPort::readLine()
{
    // At most a few reads per wake-up, so that one busy line cannot starve the others.
    char buffer[16384];
    for (int round = 0; round < 4 && master_ >= 0; ++round) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got < 0 && errno == EIO) { // the last client has closed the line
            lineClosed();
            return;
        }
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN && errno != EINTR)
                qWarning("port %d: read: %s", number_, std::strerror(errno));
            return;
        }
        answer(controller_.receive(QByteArrayView(buffer, got), simulatorNowMs()));
        if (got < ssize_t(sizeof buffer))
            return;
    }
}

void SimulatedPort::answer(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (replyDelayMs_ <= 0)
        return send(bytes);
    // Whole answers (each ends in LF) as far as the bound allows; the rest is lost.
    const qsizetype room = kMaxDelayedBytes - delayedBytes_;
    qsizetype kept = bytes.size();
    if (kept > room)
        kept = room > 0 ? bytes.lastIndexOf('\n', room - 1) + 1 : 0;
    lostReplyBytes_ += bytes.size() - kept;
    if (kept == 0)
        return;
    delayed_.push_back({simulatorNowMs() + replyDelayMs_, bytes.left(kept)});
    delayedBytes_ += kept;
    if (!delayTimer_.isActive())
        delayTimer_.start(replyDelayMs_);
}

void SimulatedPort::sendDue()
{
    const std::int64_t now = simulatorNowMs();
    while (!delayed_.empty() && delayed_.front().dueMs <= now) {
        send(delayed_.front().bytes);
        delayedBytes_ -= delayed_.front().bytes.size();
        delayed_.pop_front();
    }
    if (!delayed_.empty())
        delayTimer_.start(int(delayed_.front().dueMs - now));
}

void SimulatedPort::send(const QByteArray& bytes)
{
    if (!clientOnLine()) {
        lostReplyBytes_ += bytes.size();
        return;
    }
    const ssize_t put = ::write(master_, bytes.constData(), size_t(bytes.size()));
    // The line is full when nobody reads it: the rest is lost, as on a real line.
    if (put < qsizetype(bytes.size()))
        lostReplyBytes_ += bytes.size() - std::max<ssize_t>(put, 0);
}
