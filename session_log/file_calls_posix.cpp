#include "session_log/file_calls.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace file_calls {

int openForAppend(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                  0644);
}

int createNew(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

qsizetype writeSome(int fd, const char* data, qsizetype size)
{
    return ::write(fd, data, size_t(size));
}

int closeFile(int fd)
{
    return ::close(fd);
}

int truncateFile(int fd, std::int64_t size)
{
    return ::ftruncate(fd, off_t(size));
}

std::int64_t fileSize(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? std::int64_t(info.st_size) : -1;
}

int syncFile(int fd)
{
    return ::fsync(fd);
}

#ifdef __linux__
int startWriteback(int fd, std::int64_t offset, std::int64_t length)
{
    return ::sync_file_range(fd, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
}

int dropWritten(int fd, std::int64_t offset, std::int64_t length)
{
    if (::sync_file_range(fd, off_t(offset), off_t(length),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        // A file system that cannot be asked says so; only a failed write loses lines.
        if (errno == EINVAL || errno == ESPIPE || errno == ENOSYS)
            return 0;
        return -1;
    }
    // Only advice: the bytes are on the disk whether or not the pages go.
    ::posix_fadvise(fd, off_t(offset), off_t(length), POSIX_FADV_DONTNEED);
    return 0;
}
#else
// Elsewhere the system writes the file out in its own time.
int startWriteback(int, std::int64_t, std::int64_t)
{
    return 0;
}

int dropWritten(int, std::int64_t, std::int64_t)
{
    return 0;
}
#endif

bool wasRemoved(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_nlink == 0;
}

int removeFile(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData());
}

int replaceFile(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return -1;
    // The rename itself reaches the disk with the directory.
    const QByteArray directory = QFile::encodeName(QFileInfo(to).absolutePath());
    const int dirFd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

Kind kindAt(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Kind::Nothing;
    return S_ISREG(info.st_mode) ? Kind::RegularFile : Kind::Other;
}

QString identityOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return QStringLiteral("inode %1:%2").arg(status.st_dev).arg(status.st_ino);
}

QString refusedPath(const QString&)
{
    return QString();
}

void keepWritingPastSizeLimit()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace file_calls
