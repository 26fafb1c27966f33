#pragma once

#include "port_bank/lines/device_lock.h"
#include "port_bank/lines/posix_device_output.h"
#include "port_bank/lines/serial_line.h"

#include <QSerialPort>

// A serial device on a Unix system: termios through QSerialPort, the locks that other serial
// programs honour, reads that go past Qt's buffer when nothing waits in it, and writes of our
// own (PosixDeviceOutput).
class PosixDeviceLine : public SerialLine {
    Q_OBJECT
public:
    explicit PosixDeviceLine(const QString& path, QObject* parent = nullptr);
    ~PosixDeviceLine() override;

    Opening open(const SerialSettings& settings) override;
    bool isUp() const override;
    void applySettings(const SerialSettings& settings) override;
    qint64 write(const QByteArray& bytes) override;
    qint64 bytesToWrite() const override;
    void collect() override;
    void pushOut() override;
    qint64 heldBack() const override { return output_.held(); }
    void handOverHeld() override;
    void finish(qint64 bytes) override;
    qint64 close() override;

private:
    Opening openDevice(const QString& device);
    bool configure(const SerialSettings& settings);
    bool holdsDevice() const;
    void onPortError(QSerialPort::SerialPortError error);
    bool hungUp() const;
    void lose();
    void takeBuffered();
    void drainDevice();

    QString path_;
    QSerialPort port_;
    DeviceLock lock_;
    PosixDeviceOutput output_;
    SerialSettings settings_;
    // The device has gone: the line reads as down until close() lets it go, which cannot happen
    // inside the QSerialPort code that reported it.
    bool gone_ = false;
};
