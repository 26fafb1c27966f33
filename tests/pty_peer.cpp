#include "pty_peer.h"

#include "raw_pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

void warnErrno(const char* what)
{
    qWarning("%s: %s", what, qPrintable(qt_error_string(errno)));
}

void closeFd(int fd)
{
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        warnErrno("close");
}

// Lets the code under test run (QSerialPort writes from its event handlers), then waits a
// little for the master to become readable or writable.
void letOthersRun(int fd, short events)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    pollfd p{fd, events, 0};
    if (::poll(&p, 1, 5) < 0 && errno != EINTR)
        warnErrno("poll");
}

} // namespace

PtyPeer::PtyPeer()
{
    char folder[] = "/tmp/lightbench-pty-XXXXXX";
    if (!::mkdtemp(folder)) {
        warnErrno("mkdtemp");
        return;
    }
    folder_ = QFile::decodeName(folder);
    linkPath_ = folder_ + QStringLiteral("/ttyBENCH0");
    openPair();
}

PtyPeer::~PtyPeer()
{
    closeMaster();
    removeLink();
    if (!folder_.isEmpty() && ::rmdir(QFile::encodeName(folder_).constData()) != 0)
        warnErrno("rmdir");
}

bool PtyPeer::openPair()
{
    RawPty pty;
    if (!openRawPty(pty))
        return false;
    masterFd_ = pty.master;
    slavePath_ = pty.slavePath;

    removeLink();
    if (::symlink(QFile::encodeName(slavePath_).constData(),
                  QFile::encodeName(linkPath_).constData()) != 0) {
        warnErrno("symlink");
        closeMaster();
        return false;
    }
    return true;
}

qsizetype PtyPeer::unreadAtSlave() const
{
    const int fd = ::open(QFile::encodeName(slavePath_).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int unread = -1;
    if (::ioctl(fd, FIONREAD, &unread) != 0)
        unread = -1;
    closeFd(fd);
    return unread;
}

bool PtyPeer::waitUntilUnreadAtSlave(qsizetype n, int timeoutMs) const
{
    // The pty hands written bytes to the slave's line discipline from a kernel worker.
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype unread;
    while ((unread = unreadAtSlave()) != n) {
        if (deadline.hasExpired()) {
            qWarning("%lld bytes unread at the slave, not %lld", qlonglong(unread), qlonglong(n));
            return false;
        }
        ::usleep(1000);
    }
    return true;
}

QByteArray PtyPeer::readAvailable(int waitMs)
{
    QByteArray out;
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        char buffer[4096];
        const ssize_t got = masterFd_ < 0 ? -1 : ::read(masterFd_, buffer, sizeof buffer);
        if (got > 0) {
            out.append(buffer, got);
            continue;
        }
        // EIO: nobody has the slave open at the moment.
        if (got < 0 && masterFd_ >= 0 && errno != EAGAIN && errno != EIO && errno != EINTR)
            warnErrno("read pty master");
        if (!out.isEmpty() || deadline.hasExpired())
            return out;
        letOthersRun(masterFd_, POLLIN);
    }
}

QByteArray PtyPeer::readExactly(qsizetype n, int timeoutMs)
{
    QByteArray out;
    const QDeadlineTimer deadline(timeoutMs);
    while (out.size() < n && masterFd_ >= 0) {
        const qsizetype want = qMin<qsizetype>(n - out.size(), 4096);
        char buffer[4096];
        const ssize_t got = ::read(masterFd_, buffer, want);
        if (got > 0) {
            out.append(buffer, got);
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EIO && errno != EINTR)
            warnErrno("read pty master");
        if (deadline.hasExpired())
            break;
        letOthersRun(masterFd_, POLLIN);
    }
    return out;
}

bool PtyPeer::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    const QDeadlineTimer deadline(5000);
    while (done < bytes.size() && masterFd_ >= 0) {
        const ssize_t put = ::write(masterFd_, bytes.constData() + done, bytes.size() - done);
        if (put > 0) {
            done += put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            warnErrno("write pty master");
            return false;
        }
        if (deadline.hasExpired())
            return false;
        letOthersRun(masterFd_, POLLOUT);
    }
    return done == bytes.size();
}

void PtyPeer::closeMaster()
{
    closeFd(masterFd_);
    masterFd_ = -1;
}

void PtyPeer::removeLink()
{
    if (linkPath_.isEmpty())
        return;
    if (::unlink(QFile::encodeName(linkPath_).constData()) != 0 && errno != ENOENT)
        warnErrno("unlink");
}

bool PtyPeer::reopen()
{
    closeMaster();
    return openPair();
}

ForeignHolder::ForeignHolder(const QString& devicePath, Hold how)
{
    const QByteArray device = QFile::encodeName(devicePath);
    char* resolved = ::realpath(device.constData(), nullptr);
    if (!resolved) {
        warnErrno("realpath");
        return;
    }
    const QString resolvedPath = QFile::decodeName(resolved);
    std::free(resolved);
    QByteArray lockPath;
    if (how == Hold::LockFile) {
        lockFile_ = QStringLiteral("/var/lock/LCK..") + QFileInfo(resolvedPath).fileName();
        lockPath = QFile::encodeName(lockFile_);
    }

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        warnErrno("pipe2");
        lockFile_.clear();
        return;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        warnErrno("fork");
        closeFd(ready[0]);
        closeFd(ready[1]);
        lockFile_.clear();
        return;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on. First drop every descriptor inherited
        // from the test (the code under test's device and locks among them).
        if (::dup2(ready[1], 3) != 3)
            ::_exit(10);
        ::closefrom(4);
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            ::_exit(11);
        if (how == Hold::Flock && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            ::_exit(12);
        if (how == Hold::LockFile) {
            // minicom's format: the PID right-aligned in ten columns and a line end.
            char text[11];
            for (char& c : text)
                c = ' ';
            text[10] = '\n';
            int i = 9;
            for (long pid = ::getpid(); pid > 0 && i >= 0; pid /= 10)
                text[i--] = char('0' + pid % 10);
            const int lock = ::open(lockPath.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (lock < 0 || ::write(lock, text, sizeof text) != ssize_t(sizeof text) ||
                ::close(lock) != 0)
                ::_exit(13);
        }
        const char held = 'h';
        if (::write(3, &held, 1) != 1)
            ::_exit(14);
        for (;;)
            ::pause();
    }

    closeFd(ready[1]);
    pid_ = child;
    pollfd p{ready[0], POLLIN, 0};
    char held = 0;
    const bool holding = ::poll(&p, 1, 5000) == 1 && ::read(ready[0], &held, 1) == 1;
    closeFd(ready[0]);
    if (!holding) {
        qWarning("foreign holder did not take %s", device.constData());
        // Whatever lock file is there now is not the child's: leave it alone.
        lockFile_.clear();
        release();
    }
}

ForeignHolder::~ForeignHolder()
{
    release();
}

void ForeignHolder::release()
{
    if (pid_ > 0) {
        if (::kill(pid_, SIGKILL) != 0)
            warnErrno("kill");
        if (::waitpid(pid_, nullptr, 0) < 0 && errno != ECHILD)
            warnErrno("waitpid");
        pid_ = -1;
    }
    if (!lockFile_.isEmpty()) {
        if (::unlink(QFile::encodeName(lockFile_).constData()) != 0 && errno != ENOENT)
            warnErrno("unlink lock file");
        lockFile_.clear();
    }
}

std::optional<termios> PtyPeer::slaveSettings() const
{
    const int fd =
        ::open(QFile::encodeName(slavePath_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    termios tio;
    const bool ok = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    if (!ok)
        return {};
    return tio;
}

int PtyPeer::slaveSpeed() const
{
    const std::optional<termios> line = slaveSettings();
    return line ? int(cfgetospeed(&*line)) : -1;
}
