#pragma once

#include <QtGlobal>

class QAbstractSocket;
class QString;

// What this program asks of and learns from the system about a connection to a device server,
// beyond what Qt offers. Each platform builds its own definitions.

// Makes a connected socket notice a server or host that vanishes without a word while idle
// (power cut, cable pulled) within seconds instead of the system's two hours.
void tuneLineSocket(QAbstractSocket& socket);

// Bytes written to the socket that the server has not acknowledged yet; 0 where the system
// cannot say.
qint64 unacknowledgedBytes(const QAbstractSocket& socket);

// Whether the system is waiting for the server to acknowledge something (data or a window
// probe), and how long ago the last acknowledgement came. known is false where the system
// cannot say.
struct AckState {
    bool known = false;
    bool waiting = false;
    qint64 sinceAckMs = 0;
};
AckState ackState(const QAbstractSocket& socket);

// Hands bytes to the system at once, past Qt's write buffer (which must be empty), without
// waiting: how many it took (0 where the platform offers no such way, or the system takes none
// now), or -1 with the system's reason in *why.
qint64 sendPastBuffer(QAbstractSocket& socket, const char* data, qint64 size, QString* why);
