#include "session_log/output_paths.h"

#include "session_log/file_calls.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

QString systemReason(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

// Creates path (which must be new) and removes it again; an empty text when that worked.
QString tryCreate(const QString& path)
{
    const int fd = file_calls::createNew(path);
    if (fd < 0)
        return systemReason(errno);
    file_calls::closeFile(fd);
    file_calls::removeFile(path);
    return QString();
}

QString probeIn(const QString& directory)
{
    return QDir(directory).filePath(
        QStringLiteral(".lightbench-probe-%1").arg(QCoreApplication::applicationPid()));
}

} // namespace

QString checkLogDirectory(const QString& directory)
{
    if (directory.isEmpty())
        return QStringLiteral("--log needs a directory");
    const QFileInfo info(directory);
    if (info.exists() && !info.isDir())
        return QStringLiteral("--log %1: not a directory").arg(directory);
    if (info.exists()) {
        if (const QString why = tryCreate(probeIn(directory)); !why.isEmpty())
            return QStringLiteral("--log %1: cannot write in the directory: %2")
                .arg(directory, why);
        return QString();
    }
    // The nearest part of the path that exists must be a directory to create the rest in.
    QString parent = info.absoluteFilePath();
    do {
        parent = QFileInfo(parent).absolutePath();
    } while (!QFileInfo::exists(parent) && !QDir(parent).isRoot()); // "/" or "C:/"
    const QString why = QFileInfo(parent).isDir()
                            ? tryCreate(probeIn(parent))
                            : QStringLiteral("%1 is not a directory").arg(parent);
    if (!why.isEmpty())
        return QStringLiteral("--log %1: cannot create the directory: %2").arg(directory, why);
    return QString();
}

QString createLogDirectory(const QString& directory)
{
    if (!QDir().mkpath(directory))
        return QStringLiteral("--log %1: cannot create the directory").arg(directory);
    return QString();
}

QString prepareLogDirectory(const QString& directory)
{
    const QString why = checkLogDirectory(directory);
    return why.isEmpty() ? createLogDirectory(directory) : why;
}

QString checkReportPath(const QString& file)
{
    if (file.isEmpty())
        return QStringLiteral("--report needs a file name");
    const QFileInfo info(file);
    if (info.isDir())
        return QStringLiteral("--report %1: is a directory").arg(file);
    const QString temporary = file + QStringLiteral(".tmp");
    for (const QString& path : {file, temporary}) {
        const file_calls::Kind kind = file_calls::kindAt(path);
        if (kind == file_calls::Kind::Other)
            return QStringLiteral("--report %1: %2 is not a regular file, and the report would "
                                  "replace it")
                .arg(file, path);
    }
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("--report %1: the directory %2 does not exist")
            .arg(file, info.absolutePath());
    // A temporary file left by a run that was killed goes; the report replaces it anyway.
    QFile::remove(temporary);
    if (const QString why = tryCreate(temporary); !why.isEmpty())
        return QStringLiteral("--report %1: cannot write in %2: %3")
            .arg(file, info.absolutePath(), why);
    return QString();
}

QString claimRunName(const QString& directory, const QString& base, QString& claimFile)
{
    const QDir dir(directory);
    const auto tryName = [&](const QString& name) {
        if (!dir.entryList({name + QStringLiteral("_port*")}, QDir::Files).isEmpty())
            return false;
        const QString claim = dir.filePath(QStringLiteral(".%1.run").arg(name));
        const int fd = file_calls::createNew(claim);
        if (fd < 0)
            return false;
        file_calls::closeFile(fd);
        claimFile = claim;
        return true;
    };
    // Letters sort after the '_' that ends the first run's name, so runs keep their order.
    for (char suffix = 0; suffix <= 'z'; suffix = suffix == 0 ? 'b' : char(suffix + 1)) {
        const QString name = suffix == 0 ? base : base + QLatin1Char(suffix);
        if (tryName(name))
            return name;
    }
    // Unclaimable (an unwritable directory fails later with its own warning): the process id
    // still keeps it apart from any other run.
    claimFile.clear();
    return base + QStringLiteral("-%1").arg(QCoreApplication::applicationPid());
}
