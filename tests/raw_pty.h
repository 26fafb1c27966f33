#pragma once

#include <QString>

// A pseudo-terminal as a stand-in serial device: the slave in raw mode (the bytes on the line
// are exactly the bytes written on either side) and closed again, so that only the code under
// test holds it, as with a real device; the master non-blocking and close-on-exec.
struct RawPty {
    int master = -1;
    QString slavePath;
};

// Returns false, with the reason as a warning, when the pty could not be made.
bool openRawPty(RawPty& pty);
