#include "session_log/log_file.h"

#include "session_log/file_calls.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

using namespace file_calls;

LogFile::LogFile(QString path, std::int64_t limit) : path_(std::move(path)), limit_(limit) {}

LogFile::~LogFile()
{
    close();
}

void LogFile::close()
{
    if (fd_ >= 0)
        closeFile(fd_);
    fd_ = -1;
}

void LogFile::fail(const QString& what, int errorNumber)
{
    error_ = QStringLiteral("%1 %2: %3")
                 .arg(what, path_, QString::fromLocal8Bit(std::strerror(errorNumber)));
}

bool LogFile::ensureOpen()
{
    if (fd_ >= 0)
        return true;
    int fd = openForAppend(path_);
    if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(path_).absolutePath()))
        fd = openForAppend(path_); // the directory was deleted
    if (fd < 0) {
        fail(QStringLiteral("cannot open"), errno);
        return false;
    }
    const std::int64_t size = fileSize(fd);
    if (size < 0) {
        fail(QStringLiteral("cannot stat"), errno);
        closeFile(fd);
        return false;
    }
    fd_ = fd;
    size_ = size;
    startedTo_ = droppedTo_ = size - size % kPieceBytes;
    return true;
}

bool LogFile::rotate()
{
    close();
    if (replaceFile(path_, path_ + QStringLiteral(".1")) != 0 && errno != ENOENT) {
        fail(QStringLiteral("cannot rename"), errno);
        return false;
    }
    return ensureOpen();
}

// Writes all of bytes, or the whole lines of them up to a failure; the rest of a line cut by
// the failure is taken off the file again.
qsizetype LogFile::writeWhole(QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const qsizetype n = writeSome(fd_, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        fail(QStringLiteral("cannot write"), n < 0 ? errno : ENOSPC);
        const qsizetype whole = bytes.first(written).lastIndexOf('\n') + 1;
        if (whole < written && truncateFile(fd_, size_ + whole) != 0)
            close(); // measured afresh when it is opened again

        size_ += whole;
        return whole;
    }
    size_ += written;
    passToDisk();
    return written;
}

// Each whole piece is started on its way as soon as it is written; the one before it has had
// that long to get there, and is waited for and dropped. So a busy file holds two pieces or so
// in the memory, and its writer never waits for more than a piece's worth of disk time.
void LogFile::passToDisk()
{
    while (size_ - startedTo_ >= kPieceBytes) {
        startWriteback(fd_, startedTo_, kPieceBytes);
        if (droppedTo_ < startedTo_) {
            if (dropWritten(fd_, droppedTo_, startedTo_ - droppedTo_) != 0 && diskError_ == 0)
                diskError_ = errno;
            droppedTo_ = startedTo_;
        }
        startedTo_ += kPieceBytes;
    }
}

qsizetype LogFile::append(QByteArrayView lines)
{
    qsizetype done = 0;
    while (done < lines.size()) {
        if (!ensureOpen())
            return done;
        // The whole lines that still fit below the limit.
        const QByteArrayView rest = lines.sliced(done);
        const std::int64_t room = limit_ - size_;
        qsizetype fits = room >= rest.size() ? rest.size()
                         : room > 0          ? rest.first(qsizetype(room)).lastIndexOf('\n') + 1
                                             : 0;
        if (fits == 0) {
            if (size_ > 0) {
                if (!rotate())
                    return done;
                continue;
            }
            fits = rest.indexOf('\n') + 1; // one line longer than the limit: a file of its own
            if (fits == 0)
                fits = rest.size();
        }
        const qsizetype written = writeWhole(rest.first(fits));
        done += written;
        if (written < fits)
            return done;
    }
    return done;
}

int LogFile::sync()
{
    // Some write errors (a full disk with delayed allocation, a network file system) only show
    // here.
    if (const int error = std::exchange(diskError_, 0); error != 0)
        return error;
    return fd_ >= 0 && syncFile(fd_) != 0 ? errno : 0;
}

bool LogFile::wasRemoved() const
{
    return fd_ >= 0 && file_calls::wasRemoved(fd_);
}
