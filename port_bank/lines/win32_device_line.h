#pragma once

#include "port_bank/lines/serial_line.h"

#include <memory>

// A COM port on Windows, through the Win32 calls themselves: the port is opened for this program
// alone (Windows refuses a second handle, which is how a port in use shows), and reads and
// writes are overlapped, their completions reaching the event loop as event notifications.
class Win32DeviceLine : public SerialLine {
    Q_OBJECT
public:
    // path: "COM3", or a device path of its own ("\\.\COM3").
    explicit Win32DeviceLine(const QString& path, QObject* parent = nullptr);
    ~Win32DeviceLine() override;

    Opening open(const SerialSettings& settings) override;
    bool isUp() const override;
    void applySettings(const SerialSettings& settings) override;
    qint64 write(const QByteArray& bytes) override;
    // What waits behind the write in flight, and that write itself until the driver completes it.
    qint64 bytesToWrite() const override;
    void collect() override;
    qint64 close() override;

private:
    struct Transfer; // one overlapped read or write and the event that says it is done

    Opening openingFailed(const char* call, quint32 error);
    bool startTransfers();
    bool issueRead();
    qint64 finishRead();
    void onReadDone();
    qint64 issueWrite(const QByteArray& bytes);
    qint64 finishWrite();
    qint64 writeQueued();
    void onWriteDone();
    void ioFailed(const char* call, quint32 error);
    void lose();
    qint64 dropTransfers();

    QString path_;
    void* handle_ = nullptr; // the port while open
    SerialSettings settings_;
    std::unique_ptr<Transfer> read_;
    std::unique_ptr<Transfer> write_;
    QByteArray readBuffer_;
    QByteArray inFlight_; // handed to WriteFile, not yet complete
    QByteArray queued_;   // waiting behind it
    // The device has gone: the line reads as down until close() lets it go.
    bool gone_ = false;
};
