#include "simulator/simulated_port.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
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
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return fail("openpty");
    // Raw from the start, so that nothing written before the other side sets its own mode is
    // echoed or changed on the way.
    termios tio;
    if (::tcgetattr(slave_, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl O_NONBLOCK");
    if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave_, F_SETFD, FD_CLOEXEC) != 0)
        return fail("fcntl FD_CLOEXEC");
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
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimulatedPort::readLine);
    error_.clear();
    return true;
}

void SimulatedPort::closeDevice()
{
    notifier_.reset();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = -1;
    slave_ = -1;
}

void SimulatedPort::vanish()
{
    // The link goes first: whoever looks for the device finds nothing from now on.
    if (!linkPath_.isEmpty())
        ::unlink(QFile::encodeName(linkPath_).constData());
    closeDevice();
}

void SimulatedPort::readLine()
{
    // At most a few reads per wake-up, so that one busy line cannot starve the others.
    char buffer[16384];
    for (int round = 0; round < 4 && master_ >= 0; ++round) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                qWarning("port %d: read: %s", number_, std::strerror(errno));
            return;
        }
        const QByteArray replies =
            controller_.receive(QByteArrayView(buffer, got), simulatorNowMs());
        if (!replies.isEmpty()) {
            if (replyDelayMs_ > 0)
                QTimer::singleShot(replyDelayMs_, this, [this, replies] { send(replies); });
            else
                send(replies);
        }
        if (got < ssize_t(sizeof buffer))
            return;
    }
}

void SimulatedPort::send(const QByteArray& bytes)
{
    if (master_ < 0) {
        lostReplyBytes_ += bytes.size();
        return;
    }
    const ssize_t put = ::write(master_, bytes.constData(), size_t(bytes.size()));
    // The line is full when nobody reads it: the rest is lost, as on a real line.
    if (put < qsizetype(bytes.size()))
        lostReplyBytes_ += bytes.size() - std::max<ssize_t>(put, 0);
}
