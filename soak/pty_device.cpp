#include "pty_device.h"

#include "raw_pty.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
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
    RawPty pty;
    if (!openRawPty(pty))
        return false;
    fd_ = pty.master;
    slavePath_ = pty.slavePath;

    removeLink();
    if (::symlink(QFile::encodeName(slavePath_).constData(),
                  QFile::encodeName(linkPath_).constData()) != 0) {
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
