#include "session_log/file_calls.h"

#include "session_log/windows_device_path.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

// Files are opened with CreateFileW, whose sharing and link handling the C runtime's _wopen
// does not offer, and then handed to the runtime as descriptors: the log's writes, size and
// truncation stay the runtime's, in binary mode.

namespace file_calls {

namespace {

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// The errno value closest to the system's last error, so that callers say it in their words.
int errnoOfLastError()
{
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

int failWithLastError()
{
    errno = errnoOfLastError();
    return -1;
}

int openHandle(const QString& path, DWORD disposition, DWORD flags, int runtimeFlags)
{
    // Readers may look at a log while it is written; FILE_SHARE_DELETE lets the files be removed
    // or renamed under a running program, as on other systems (wasRemoved() then says so).
    const HANDLE handle =
        ::CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failWithLastError();
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), runtimeFlags);
    if (fd < 0) {
        const int error = errno;
        ::CloseHandle(handle);
        errno = error;
    }
    return fd;
}

} // namespace

int openForAppend(const QString& path)
{
    return openHandle(path, OPEN_ALWAYS, 0, _O_WRONLY | _O_APPEND | _O_BINARY);
}

int createNew(const QString& path)
{
    // CREATE_NEW fails on anything at the path; with FILE_FLAG_OPEN_REPARSE_POINT a link is
    // never followed.
    return openHandle(path, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, _O_WRONLY | _O_BINARY);
}

qsizetype writeSome(int fd, const char* data, qsizetype size)
{
    const unsigned int chunk = unsigned(std::min<qsizetype>(size, 1 << 30));
    return ::_write(fd, data, chunk);
}

int closeFile(int fd)
{
    return ::_close(fd);
}

int truncateFile(int fd, std::int64_t size)
{
    const errno_t error = ::_chsize_s(fd, size);
    if (error == 0)
        return 0;
    errno = error;
    return -1;
}

std::int64_t fileSize(int fd)
{
    return ::_filelengthi64(fd);
}

int syncFile(int fd)
{
    return ::_commit(fd); // FlushFileBuffers
}

// The system writes the file out in its own time.
int startWriteback(int, std::int64_t, std::int64_t)
{
    return 0;
}

int dropWritten(int, std::int64_t, std::int64_t)
{
    return 0;
}

bool wasRemoved(int fd)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    FILE_STANDARD_INFO info{};
    if (handle == INVALID_HANDLE_VALUE ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info))
        return false;
    return info.DeletePending || info.NumberOfLinks == 0;
}

int removeFile(const QString& path)
{
    return ::DeleteFileW(nativePath(path).c_str()) ? 0 : failWithLastError();
}

int replaceFile(const QString& from, const QString& to)
{
    // rename() does not replace an existing file here.
    return ::MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : failWithLastError();
}

Kind kindAt(const QString& path)
{
    const DWORD attributes = ::GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Nothing;
    const DWORD notAFile =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return attributes & notAFile ? Kind::Other : Kind::RegularFile;
}

QString identityOf(const QString& path)
{
    // Volume and file index, as an inode names a file elsewhere.
    const HANDLE handle = ::CreateFileW(
        nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QString();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known)
        return QString();
    const quint64 index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return QStringLiteral("file %1:%2").arg(info.dwVolumeSerialNumber).arg(index);
}

QString refusedPath(const QString& path)
{
    const QString device = windowsDeviceIn(path);
    if (device.isEmpty())
        return QString();
    return QStringLiteral("%1 names the Windows device %2, not a file").arg(path, device);
}

void keepWritingPastSizeLimit()
{
    // Windows has no file-size limit signal.
}

} // namespace file_calls
