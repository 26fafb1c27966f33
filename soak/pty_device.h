#pragma once

#include <QString>

// One controller's serial line for the soak: the master side of a pseudo-terminal, held by the
// peer thread, and a symbolic link that the window opens as its device. Unlike the tests'
// PtyPeer it does no I/O of its own and never runs an event loop: the peer thread polls fd()
// itself, and nothing here may wait.
class PtyDevice {
public:
    explicit PtyDevice(const QString& linkPath) : linkPath_(linkPath) {}
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // A new pty, in raw mode and non-blocking, with the link pointing at its slave.
    bool open();
    // The controller goes away: the window's side of the line sees a hang-up. The pty's number
    // stays taken until the next open(), so that no other pty, of this program or another,
    // turns up behind the link that still names it.
    void closeMaster();
    // The device path goes away too, as when an adapter is unplugged.
    void removeLink();

    int fd() const { return fd_; }
    QString linkPath() const { return linkPath_; }

private:
    void releaseNumber();

    QString linkPath_;
    QString slavePath_;
    int fd_ = -1;
    int numberHold_ = -1; // a descriptor of the slave of a closed pty
};
