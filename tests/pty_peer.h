#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <termios.h>

// A real pseudo-terminal for tests: the test holds the master side and plays the controller;
// the code under test opens the slave side by path, exactly as it would open /dev/ttyUSB0.
//
// linkPath(): a symbolic link in a private temporary folder that points at the slave. It
// outlives the pty, so "unplug" (closeMaster + removeLink) and "plug back" (reopen) can be
// played at one stable path, as with an adapter that comes back under the same name.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool isValid() const { return masterFd_ >= 0; }
    QString slavePath() const { return slavePath_; }
    QString linkPath() const { return linkPath_; }

    // The line settings as the slave's driver holds them, read through a descriptor of our own;
    // its output speed (a B* value), -1 when they cannot be read.
    std::optional<termios> slaveSettings() const;
    int slaveSpeed() const;

    // Reads whatever the code under test has written so far; waits up to waitMs for the first
    // byte, processing Qt events meanwhile so that asynchronous writers can make progress.
    QByteArray readAvailable(int waitMs = 0);
    // Reads until exactly n bytes have arrived or timeoutMs passed (processing Qt events).
    QByteArray readExactly(qsizetype n, int timeoutMs = 5000);

    // Writes to the master side: the code under test receives these bytes.
    bool write(const QByteArray& bytes);

    // Bytes that reached the slave side and nobody has read yet, as the driver counts them
    // (FIONREAD on a descriptor of our own); -1 when it cannot be asked.
    qsizetype unreadAtSlave() const;
    // Waits until the slave side holds exactly n unread bytes, without processing events, so
    // that no reader on this thread takes them meanwhile. False after timeoutMs.
    bool waitUntilUnreadAtSlave(qsizetype n, int timeoutMs = 10000) const;

    // The device goes away: the master is closed (the slave side sees a hang-up).
    void closeMaster();
    // The link path disappears too, as a device node does when an adapter is unplugged.
    void removeLink();
    // A new pty comes up and linkPath() points at its slave again.
    bool reopen();

private:
    bool openPair();

    int masterFd_ = -1;
    QString slavePath_;
    QString folder_;
    QString linkPath_;
};

// Another program holding a device: a child process that opens the path and keeps it until
// release() or destruction. How it marks the device as held is chosen by Hold.
class ForeignHolder {
public:
    enum class Hold { Flock, LockFile };
    ForeignHolder(const QString& devicePath, Hold how);
    ~ForeignHolder();
    ForeignHolder(const ForeignHolder&) = delete;
    ForeignHolder& operator=(const ForeignHolder&) = delete;

    bool isHolding() const { return pid_ > 0; }
    void release();

private:
    int pid_ = -1;
    QString lockFile_;
};
