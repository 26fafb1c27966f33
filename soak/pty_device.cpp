#include "pty_device.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

void warnErrno(const char* what)
{
    qWarning("%s: %s", what, qPrintable(qt_error_string(errno)));
}

} // namespace

PtyDevice::~PtyDevice()
{
    closeMaster();
    releaseNumber();
    removeLink();
}

bool PtyDevice::open()
{
    closeMaster();
    releaseNumber();
    int master = -1;
    int slave = -1;
    char name[PATH_MAX];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        warnErrno("openpty");
        return false;
    }
    // Raw, so that the bytes on the line are exactly the bytes written on either side.
    termios tio;
    bool ok = ::tcgetattr(slave, &tio) == 0;
    if (ok) {
        ::cfmakeraw(&tio);
        ok = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    const int flags = ::fcntl(master, F_GETFL);
    ok = ok && flags >= 0 && ::fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(master, F_SETFD, FD_CLOEXEC) == 0;
    if (!ok)
        warnErrno("pty set-up");
    // Only the window keeps the slave open, as nobody else holds a real device.
    ::close(slave);
    if (!ok) {
        ::close(master);
        return false;
    }
    fd_ = master;
    slavePath_ = QFile::decodeName(name);

    removeLink();
    if (::symlink(name, QFile::encodeName(linkPath_).constData()) != 0) {
        warnErrno("symlink");
        closeMaster();
        return false;
    }
    return true;
}

void PtyDevice::closeMaster()
{
    if (fd_ < 0)
        return;
    // The kernel frees a pty's number only once its slave is closed everywhere; the device node
    // goes with the master all the same.
    numberHold_ = ::open(QFile::encodeName(slavePath_).constData(),
                         O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (numberHold_ < 0)
        warnErrno("open pty slave");
    if (::close(fd_) != 0 && errno != EINTR)
        warnErrno("close pty master");
    fd_ = -1;
}

void PtyDevice::releaseNumber()
{
    if (numberHold_ >= 0 && ::close(numberHold_) != 0 && errno != EINTR)
        warnErrno("close pty slave");
    numberHold_ = -1;
}

void PtyDevice::removeLink()
{
    if (::unlink(QFile::encodeName(linkPath_).constData()) != 0 && errno != ENOENT)
        warnErrno("unlink");
}
