#include "raw_pty.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

bool openRawPty(RawPty& pty)
{
    int master = -1;
    int slave = -1;
    char name[PATH_MAX];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        qWarning("openpty: %s", qPrintable(qt_error_string(errno)));
        return false;
    }
    termios tio;
    bool ok = ::tcgetattr(slave, &tio) == 0;
    if (ok) {
        ::cfmakeraw(&tio);
        ok = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    const int flags = ok ? ::fcntl(master, F_GETFL) : -1;
    ok = ok && flags >= 0 && ::fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(master, F_SETFD, FD_CLOEXEC) == 0;
    if (!ok)
        qWarning("pty set-up: %s", qPrintable(qt_error_string(errno)));
    if (::close(slave) != 0 && errno != EINTR)
        qWarning("close pty slave: %s", qPrintable(qt_error_string(errno)));
    if (!ok) {
        ::close(master);
        return false;
    }
    pty.master = master;
    pty.slavePath = QFile::decodeName(name);
    return true;
}
