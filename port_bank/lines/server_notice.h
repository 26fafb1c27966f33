#pragma once

#include <QByteArray>
#include <QString>

// What a device server (ser2net) writes to a client it turns away, just before it closes: the
// line is taken by another client, or its device cannot be opened (the rest of that line says
// why). Anything else a server says before the line is ready is the line talking.
enum class ServerNotice { None, InUse, DeviceFailure };

// What the server has said so far is such a notice. complete: the notice's text has arrived
// whole; otherwise what has arrived may still become one.
ServerNotice serverNoticeIn(const QByteArray& said, bool complete);

// The first line of what a server said, fit for a warning: printable ASCII, bounded.
QString serverWords(const QByteArray& said);
