#include "port_bank/lines/device_lock.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString kLockDirectory = QStringLiteral("/var/lock");

// The names under which other programs may have locked devicePath: minicom and most UUCP
// programs use the base name ("LCK..ttyUSB0"); QSerialPort drops "/dev/" and turns the other
// slashes into underscores ("LCK..pts_3"). For /dev/ttyUSB0 both are the same file.
QStringList lockFileNames(const QString& devicePath)
{
    QStringList names{kLockDirectory + QStringLiteral("/LCK..") + QFileInfo(devicePath).fileName()};
    QString qtName =
        devicePath.startsWith(QStringLiteral("/dev/")) ? devicePath.mid(5) : devicePath;
    qtName.replace(u'/', u'_');
    const QString qtPath = kLockDirectory + QStringLiteral("/LCK..") + qtName;
    if (!names.contains(qtPath))
        names.append(qtPath);
    return names;
}

void closeDescriptor(int fd, const char* what)
{
    // No retry on EINTR: Linux has released the descriptor whatever close() returns.
    if (::close(fd) != 0 && errno != EINTR)
        qWarning("close %s: %s", what, qPrintable(qt_error_string(errno)));
}

// The PID at the start of a lock file: minicom writes "%10d\n", QLockFile "pid\napp\nhost\n".
// 0 when the file is missing or names no PID; -1 when it cannot be read.
long lockFileOwner(const QByteArray& path)
{
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT)
            return 0;
        qWarning("open %s: %s", path.constData(), qPrintable(qt_error_string(errno)));
        return -1;
    }
    char text[64];
    ssize_t length;
    do {
        length = ::read(fd, text, sizeof text - 1);
    } while (length < 0 && errno == EINTR);
    const int readError = errno;
    closeDescriptor(fd, path.constData());
    if (length < 0) {
        qWarning("read %s: %s", path.constData(), qPrintable(qt_error_string(readError)));
        return -1;
    }
    text[length] = '\0';

    const char* start = text;
    while (*start == ' ' || *start == '\t' || *start == '\n')
        ++start;
    if (*start < '0' || *start > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(start, &end, 10);
    if (errno != 0 || pid > INT_MAX)
        return 0;
    return pid;
}

bool processIsAlive(long pid)
{
    // EPERM: the process exists but belongs to another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// True when the lock file names a live process other than this one. A lock of a dead process
// is removed, as minicom does, so that neither we nor others trip over it again.
bool lockedByAnotherProcess(const QString& lockPath)
{
    const QByteArray path = QFile::encodeName(lockPath);
    const long pid = lockFileOwner(path);
    if (pid < 0)
        return true; // an unreadable lock cannot be proven stale
    // Our own locks (another port object on the same device) are QSerialPort's to judge.
    if (pid == 0 || pid == ::getpid())
        return false;
    if (processIsAlive(pid))
        return true;
    if (::unlink(path.constData()) != 0 && errno != ENOENT)
        qWarning("remove stale lock %s: %s", path.constData(), qPrintable(qt_error_string(errno)));
    return false;
}

} // namespace

DeviceLock::~DeviceLock()
{
    release();
}

DeviceLock::Result DeviceLock::acquire(const QString& devicePath)
{
    release();
    errorString_.clear();

    const QStringList lockFiles = lockFileNames(devicePath);
    for (const QString& lockFile : lockFiles) {
        if (lockedByAnotherProcess(lockFile))
            return Result::Busy;
    }

    const QByteArray path = QFile::encodeName(devicePath);
    int fd;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int openError = errno;
        switch (openError) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
        case EIO: // a UART node without the hardware behind it
            return Result::Missing;
        case EBUSY: // TIOCEXCL set by a holder that is not root
            return Result::Busy;
        case EACCES:
        case EPERM:
            errorString_ = qt_error_string(openError);
            return Result::Denied;
        default:
            errorString_ = qt_error_string(openError);
            return Result::Failed;
        }
    }

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        if (lockError == EWOULDBLOCK) {
            closeDescriptor(fd, path.constData());
            return Result::Busy;
        }
        // The device works without it; only the warning to other programs is missing.
        qWarning("flock %s: %s", path.constData(), qPrintable(qt_error_string(lockError)));
    }
    fd_ = fd;
    return Result::Taken;
}

void DeviceLock::release()
{
    if (fd_ < 0)
        return;
    // Closing the descriptor drops the flock with it.
    closeDescriptor(fd_, "device lock");
    fd_ = -1;
}
