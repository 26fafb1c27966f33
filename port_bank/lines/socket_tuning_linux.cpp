#include "port_bank/lines/socket_tuning.h"

#include <QAbstractSocket>
#include <QVariant>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// Nagle's algorithm stays on: a command to an idle line leaves at once, and commands sent back
// to back while earlier ones are still unacknowledged travel together, which lets one device
// server keep up with sixteen ports of fast sweep.
void tuneLineSocket(QAbstractSocket& socket)
{
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const auto fd = static_cast<int>(socket.socketDescriptor());
    const struct {
        int option;
        int value;
        const char* name;
    } tunings[] = {
        {TCP_KEEPIDLE, 5, "TCP_KEEPIDLE"},
        {TCP_KEEPINTVL, 2, "TCP_KEEPINTVL"},
        {TCP_KEEPCNT, 3, "TCP_KEEPCNT"},
        {TCP_USER_TIMEOUT, 10000, "TCP_USER_TIMEOUT"}, // ms that sent data may stay unacknowledged
    };
    for (const auto& tuning : tunings) {
        if (::setsockopt(fd, IPPROTO_TCP, tuning.option, &tuning.value, sizeof tuning.value) != 0)
            qWarning("setsockopt %s: %s", tuning.name, qPrintable(qt_error_string(errno)));
    }
}
