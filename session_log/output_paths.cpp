#include "session_log/output_paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemReason(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

// Creates path and removes it again; an empty text when that worked.
QString tryCreate(const QString& path, bool exclusive)
{
    const QByteArray native = QFile::encodeName(path);
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : 0);
    const int fd = ::open(native.constData(), flags, 0644);
    if (fd < 0)
        return systemReason(errno);
    ::close(fd);
    ::unlink(native.constData());
    return QString();
}

} // namespace

QString prepareLogDirectory(const QString& directory)
{
    if (directory.isEmpty())
        return QStringLiteral("--log needs a directory");
    const QFileInfo info(directory);
    if (info.exists() && !info.isDir())
        return QStringLiteral("--log %1: not a directory").arg(directory);
    if (!info.exists() && !QDir().mkpath(directory))
        return QStringLiteral("--log %1: cannot create the directory").arg(directory);
    const QString probe =
        QDir(directory).filePath(QStringLiteral(".lightbench-probe-%1").arg(::getpid()));
    const QString why = tryCreate(probe, true);
    if (!why.isEmpty())
        return QStringLiteral("--log %1: cannot write in the directory: %2").arg(directory, why);
    return QString();
}

QString checkReportPath(const QString& file)
{
    if (file.isEmpty())
        return QStringLiteral("--report needs a file name");
    const QFileInfo info(file);
    if (info.isDir())
        return QStringLiteral("--report %1: is a directory").arg(file);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("--report %1: the directory %2 does not exist")
            .arg(file, info.absolutePath());
    const QString why = tryCreate(file + QStringLiteral(".tmp"), false);
    if (!why.isEmpty())
        return QStringLiteral("--report %1: cannot write in %2: %3")
            .arg(file, info.absolutePath(), why);
    return QString();
}
