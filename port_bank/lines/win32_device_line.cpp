#include "port_bank/lines/win32_device_line.h"

#include "port_bank/lines/device_line.h"
#include "port_bank/lines/win32_comm_setup.h"
#include "port_bank/lines/win32_error_meaning.h"

#include <QTimer>
#include <QWinEventNotifier>

#include <utility>
#include <windows.h>

static_assert(Win32Error::InvalidFunction == ERROR_INVALID_FUNCTION &&
              Win32Error::FileNotFound == ERROR_FILE_NOT_FOUND &&
              Win32Error::PathNotFound == ERROR_PATH_NOT_FOUND &&
              Win32Error::AccessDenied == ERROR_ACCESS_DENIED &&
              Win32Error::InvalidHandle == ERROR_INVALID_HANDLE &&
              Win32Error::NotReady == ERROR_NOT_READY &&
              Win32Error::BadCommand == ERROR_BAD_COMMAND &&
              Win32Error::GenFailure == ERROR_GEN_FAILURE &&
              Win32Error::SharingViolation == ERROR_SHARING_VIOLATION &&
              Win32Error::DevNotExist == ERROR_DEV_NOT_EXIST &&
              Win32Error::BrokenPipe == ERROR_BROKEN_PIPE &&
              Win32Error::OperationAborted == ERROR_OPERATION_ABORTED &&
              Win32Error::DeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED &&
              Win32Error::DeviceRemoved == ERROR_DEVICE_REMOVED);
namespace {

constexpr DWORD kReadChunk = 16 * 1024;
constexpr int kEmptyReadPauseMs = 50;

// COM10 and up open only by their device path; the path works for COM1 to COM9 too.
QString devicePathOf(const QString& path)
{
    return path.startsWith(QLatin1String("\\\\")) ? path : QStringLiteral("\\\\.\\") + path;
}

QString errorText(DWORD error)
{
    return qt_error_string(int(error)); // FormatMessage's words for it
}

} // namespace

struct Win32DeviceLine::Transfer {
    OVERLAPPED overlapped{};
    std::unique_ptr<QWinEventNotifier> notifier;
    bool pending = false;

    ~Transfer()
    {
        notifier.reset();
        if (overlapped.hEvent && !CloseHandle(overlapped.hEvent))
            qWarning("CloseHandle: %s", qPrintable(errorText(GetLastError())));
    }
};

std::unique_ptr<SerialLine> makeDeviceLine(const QString& path)
{
    return std::make_unique<Win32DeviceLine>(path);
}

Win32DeviceLine::Win32DeviceLine(const QString& path, QObject* parent)
    : SerialLine(parent), path_(path)
{
}

Win32DeviceLine::~Win32DeviceLine()
{
    // No signals from a half-destroyed object.
    blockSignals(true);
    close();
}

SerialLine::Opening Win32DeviceLine::open(const SerialSettings& settings)
{
    if (handle_)
        return Opening::InUse;
    // No sharing: Windows then refuses the port to anyone else while it is ours.
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(devicePathOf(path_).utf16()),
                                GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return openingFailed("open", GetLastError());
    handle_ = handle;
    const char* call = nullptr;
    bool ready = setUpCommPort(handle_, settings, &call);
    if (ready) {
        call = "SetCommTimeouts";
        ready = setCommReadTimeouts(handle_);
    }
    if (ready) {
        call = "CreateEvent";
        ready = startTransfers();
    }
    if (!ready) {
        const DWORD error = GetLastError();
        close();
        return openingFailed(call, error);
    }
    settings_ = settings;
    gone_ = false;
    emit up();
    // Reading starts once the port is up; a device that fails it at once is a loss, as if it
    // had gone a moment later.
    issueRead();
    return Opening::Opened;
}

SerialLine::Opening Win32DeviceLine::openingFailed(const char* call, quint32 error)
{
    const Opening opening = openingForWin32Error(error);
    if (opening == Opening::Failed)
        emit warning(QStringLiteral("%1 %2: %3").arg(QLatin1String(call), path_, errorText(error)));
    return opening;
}

bool Win32DeviceLine::isUp() const
{
    return handle_ && !gone_;
}

void Win32DeviceLine::applySettings(const SerialSettings& settings)
{
    if (!handle_ || settings == settings_) {
        settings_ = settings; // a closed port takes them at the next open
        emit settingsAnswered(true);
        return;
    }
    const char* call = nullptr;
    const bool taken = setUpCommPort(handle_, settings, &call);
    if (!taken)
        emit warning(
            QStringLiteral("%1 %2: %3").arg(QLatin1String(call), path_, errorText(GetLastError())));
    // A driver may take settings without a word and keep others (wine on a pty keeps 8 data
    // bits and no parity): what it reads back is what the line has.
    if (!taken || !commPortHas(handle_, settings)) {
        setUpCommPort(handle_, settings_, &call);
        emit settingsAnswered(false);
        return;
    }
    settings_ = settings;
    emit settingsAnswered(true);
}

bool Win32DeviceLine::startTransfers()
{
    read_ = std::make_unique<Transfer>();
    write_ = std::make_unique<Transfer>();
    for (Transfer* transfer : {read_.get(), write_.get()}) {
        // Manual reset: each ReadFile or WriteFile resets it as it starts.
        transfer->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!transfer->overlapped.hEvent)
            return false;
        transfer->notifier = std::make_unique<QWinEventNotifier>(transfer->overlapped.hEvent);
    }
    connect(read_->notifier.get(), &QWinEventNotifier::activated, this, [this] { onReadDone(); });
    connect(write_->notifier.get(), &QWinEventNotifier::activated, this, [this] { onWriteDone(); });
    readBuffer_.resize(kReadChunk);
    return true;
}

// False when the line failed on the way.
bool Win32DeviceLine::issueRead()
{
    if (ReadFile(handle_, readBuffer_.data(), kReadChunk, nullptr, &read_->overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        read_->pending = true;
        return true;
    }
    ioFailed("ReadFile", GetLastError());
    return false;
}

// What the read in flight brought, once it is done: -1 while it is not (or it failed).
qint64 Win32DeviceLine::finishRead()
{
    if (!read_ || !read_->pending)
        return -1;
    DWORD got = 0;
    if (!GetOverlappedResult(handle_, &read_->overlapped, &got, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return -1;
        read_->pending = false;
        ioFailed("read", error);
        return -1;
    }
    read_->pending = false;
    if (got > 0)
        emit dataArrived(readBuffer_.left(qsizetype(got)));
    return got;
}

// One read an event: what has arrived meanwhile completes the next read at once and raises the
// next event, after other events had their turn.
void Win32DeviceLine::onReadDone()
{
    if (!isUp()) {
        ResetEvent(read_->overlapped.hEvent);
        return;
    }
    const qint64 got = finishRead();
    if (got > 0 && isUp()) {
        issueRead();
    } else if (got == 0) {
        // Not with these timeouts, but a driver that ends reads empty must not keep this
        // thread busy: the next read waits a little.
        ResetEvent(read_->overlapped.hEvent);
        QTimer::singleShot(kEmptyReadPauseMs, this, [this] {
            if (isUp() && !read_->pending)
                issueRead();
        });
    }
}

void Win32DeviceLine::collect()
{
    qint64 taken = 0;
    while (isUp() && taken < kReadBound) {
        const qint64 got = finishRead();
        if (got < 0 || !issueRead() || got == 0)
            return;
        taken += got;
    }
}

// Straight to the driver while nothing waits before it; the rest waits behind the write in
// flight.
qint64 Win32DeviceLine::write(const QByteArray& bytes)
{
    if (!isUp())
        return -1;
    if (!write_->pending && queued_.isEmpty()) {
        if (issueWrite(bytes) < 0)
            return gone_ ? -1 : bytes.size();
        // Done at once, perhaps in part: the part left over is reported as waiting here and as
        // written by the event, once this call has returned.
        if (!queued_.isEmpty())
            SetEvent(write_->overlapped.hEvent);
        return queued_.size();
    }
    queued_.append(bytes);
    return bytes.size();
}

// The bytes the driver took at once, or -1: in flight (or failed, when the line is gone).
qint64 Win32DeviceLine::issueWrite(const QByteArray& bytes)
{
    inFlight_ = bytes;
    if (!WriteFile(handle_, inFlight_.constData(), DWORD(inFlight_.size()), nullptr,
                   &write_->overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        inFlight_.clear();
        ioFailed("WriteFile", GetLastError());
        return -1;
    }
    write_->pending = true;
    return finishWrite();
}

// Bytes of the write in flight that are done; -1 while it goes on (or it failed). What the
// driver did not take goes back before the queue.
qint64 Win32DeviceLine::finishWrite()
{
    if (!write_->pending)
        return -1;
    DWORD put = 0;
    if (!GetOverlappedResult(handle_, &write_->overlapped, &put, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return -1;
        write_->pending = false;
        inFlight_.clear();
        ioFailed("write", error);
        return -1;
    }
    write_->pending = false;
    queued_.prepend(inFlight_.mid(qsizetype(put)));
    inFlight_.clear();
    return put;
}

// Hands the queue to the driver; returns the bytes it took at once.
qint64 Win32DeviceLine::writeQueued()
{
    qint64 done = 0;
    while (!queued_.isEmpty() && !gone_) {
        const qint64 put = issueWrite(std::exchange(queued_, QByteArray()));
        if (put <= 0)
            break;
        done += put;
    }
    return done;
}

void Win32DeviceLine::onWriteDone()
{
    if (!isUp() || (!write_->pending && queued_.isEmpty())) {
        if (write_)
            ResetEvent(write_->overlapped.hEvent);
        return;
    }
    qint64 done = qMax<qint64>(finishWrite(), 0);
    if (!write_->pending)
        done += writeQueued();
    if (!write_->pending && !gone_)
        ResetEvent(write_->overlapped.hEvent);
    if (done > 0)
        emit written(done);
}

qint64 Win32DeviceLine::bytesToWrite() const
{
    return inFlight_.size() + queued_.size();
}

void Win32DeviceLine::ioFailed(const char* call, quint32 error)
{
    if (gone_)
        return;
    if (!win32ErrorMeansGone(error))
        emit warning(QStringLiteral("%1 %2: %3").arg(QLatin1String(call), path_, errorText(error)));
    // Whatever it was, the line cannot go on: the port lets it go and opens it afresh.
    lose();
}

void Win32DeviceLine::lose()
{
    gone_ = true;
    emit lost();
}

qint64 Win32DeviceLine::close()
{
    if (!handle_)
        return 0;
    // What the driver still holds of writes already done; a write in flight is this program's
    // queue, and its count would be in the driver's.
    qint64 driverHeld = 0;
    COMSTAT status{};
    DWORD errors = 0;
    if (!write_ || !write_->pending) {
        if (ClearCommError(handle_, &errors, &status))
            driverHeld = status.cbOutQue;
        if (driverHeld > 0 && !PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR))
            qWarning("PurgeComm %s: %s", qPrintable(path_), qPrintable(errorText(GetLastError())));
    }
    const qint64 sent = dropTransfers();
    if (!CloseHandle(handle_))
        qWarning("CloseHandle %s: %s", qPrintable(path_), qPrintable(errorText(GetLastError())));
    handle_ = nullptr;
    queued_.clear();
    inFlight_.clear();
    gone_ = false;
    // Bytes of the cancelled write that had reached the line by then.
    if (sent > 0)
        emit written(sent);
    return driverHeld;
}

// Cancels the reads and writes in flight and waits for their end: the system writes into their
// buffers until then. Returns how much of the write in flight was done.
qint64 Win32DeviceLine::dropTransfers()
{
    const bool pending = (read_ && read_->pending) || (write_ && write_->pending);
    if (pending && !CancelIoEx(handle_, nullptr) && GetLastError() != ERROR_NOT_FOUND)
        qWarning("CancelIoEx %s: %s", qPrintable(path_), qPrintable(errorText(GetLastError())));
    DWORD put = 0;
    for (Transfer* transfer : {read_.get(), write_.get()}) {
        DWORD done = 0;
        if (transfer && transfer->pending) {
            GetOverlappedResult(handle_, &transfer->overlapped, &done, TRUE);
            transfer->pending = false;
        }
        if (transfer == write_.get())
            put = done;
    }
    read_.reset();
    write_.reset();
    return put;
}
