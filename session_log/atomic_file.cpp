#include "session_log/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString failure(const QString& what, const QString& path, int errorNumber)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errorNumber)));
}

} // namespace

QString writeFileAtomically(const QString& path, const QByteArray& contents)
{
    const QString temporary = path + QStringLiteral(".tmp");
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    // A new file, never one found at that name: a link planted there would have its target
    // overwritten.
    if (::unlink(nativeTemporary.constData()) != 0 && errno != ENOENT)
        return failure(QStringLiteral("remove"), temporary, errno);
    const int fd = ::open(nativeTemporary.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure(QStringLiteral("create"), temporary, errno);

    qsizetype written = 0;
    while (written < contents.size()) {
        const ssize_t n =
            ::write(fd, contents.constData() + written, size_t(contents.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(nativeTemporary.constData());
            return failure(QStringLiteral("write"), temporary, error);
        }
        written += n;
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(nativeTemporary.constData());
        return failure(QStringLiteral("sync"), temporary, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(nativeTemporary.constData());
        return failure(QStringLiteral("close"), temporary, error);
    }
    if (::rename(nativeTemporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(nativeTemporary.constData());
        return failure(QStringLiteral("rename to"), path, error);
    }
    // The rename itself reaches the disk with the directory.
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dirFd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return QString();
}
