#pragma once

#include <QString>

// The marks by which serial programs on Unix tell each other that a device is in use, beyond the
// lock file that QSerialPort takes itself:
//  - an exclusive flock() on the device, as tio, picocom and pyserial take and test it. It is
//    held on a descriptor of our own, opened before QSerialPort opens, so a device that another
//    program holds is refused before its line settings are touched;
//  - UUCP lock files "LCK..name" in /var/lock, as minicom writes them ("%10d\n", the owner's
//    PID) and Qt programs do. QLockFile takes a minicom lock for stale and would remove it, so
//    a live one is honoured here before QSerialPort sees it.
// The kernel's TIOCEXCL is no help: root ignores it.
class DeviceLock {
public:
    enum class Result { Taken, Busy, Missing, Denied, Failed };

    DeviceLock() = default;
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // devicePath must be resolved (no symbolic links), as lock file names derive from it.
    Result acquire(const QString& devicePath);
    void release();
    bool isHeld() const { return fd_ >= 0; }

    // What went wrong in the last acquire() that returned Denied or Failed.
    QString errorString() const { return errorString_; }

private:
    int fd_ = -1;
    QString errorString_;
};
