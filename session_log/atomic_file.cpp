#include "session_log/atomic_file.h"

#include "session_log/file_calls.h"

#include <cerrno>
#include <cstring>

namespace {

QString failure(const QString& what, const QString& path, int errorNumber)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errorNumber)));
}

} // namespace

QString writeFileAtomically(const QString& path, const QByteArray& contents)
{
    using namespace file_calls;
    const QString temporary = path + QStringLiteral(".tmp");
    // A new file, never one found at that name: a link planted there would have its target
    // overwritten.
    if (removeFile(temporary) != 0 && errno != ENOENT)
        return failure(QStringLiteral("remove"), temporary, errno);
    const int fd = createNew(temporary);
    if (fd < 0)
        return failure(QStringLiteral("create"), temporary, errno);

    qsizetype written = 0;
    while (written < contents.size()) {
        const qsizetype n =
            writeSome(fd, contents.constData() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            closeFile(fd);
            removeFile(temporary);
            return failure(QStringLiteral("write"), temporary, error);
        }
        written += n;
    }
    if (syncFile(fd) != 0) {
        const int error = errno;
        closeFile(fd);
        removeFile(temporary);
        return failure(QStringLiteral("sync"), temporary, error);
    }
    if (closeFile(fd) != 0) {
        const int error = errno;
        removeFile(temporary);
        return failure(QStringLiteral("close"), temporary, error);
    }
    if (replaceFile(temporary, path) != 0) {
        const int error = errno;
        removeFile(temporary);
        return failure(QStringLiteral("rename to"), path, error);
    }
    return QString();
}
