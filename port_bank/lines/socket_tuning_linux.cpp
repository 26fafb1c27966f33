#include "port_bank/lines/socket_tuning.h"

#include <QAbstractSocket>
#include <QVariant>

#include <cerrno>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

// Nagle's algorithm stays on: a command to an idle line leaves at once, and commands sent back
// to back while earlier ones are still unacknowledged travel together, which lets one device
// server keep up with sixteen ports of fast sweep. No TCP_USER_TIMEOUT: it also ends a
// connection whose far line merely takes nothing for a while (see AckWatch).
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
    };
    for (const auto& tuning : tunings) {
        if (::setsockopt(fd, IPPROTO_TCP, tuning.option, &tuning.value, sizeof tuning.value) != 0)
            qWarning("setsockopt %s: %s", tuning.name, qPrintable(qt_error_string(errno)));
    }
}

qint64 unacknowledgedBytes(const QAbstractSocket& socket)
{
    int queued = 0;
    if (::ioctl(static_cast<int>(socket.socketDescriptor()), SIOCOUTQ, &queued) != 0) {
        qWarning("ioctl SIOCOUTQ: %s", qPrintable(qt_error_string(errno)));
        return 0;
    }
    return queued;
}

AckState ackState(const QAbstractSocket& socket)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info,
                     &size) != 0) {
        qWarning("getsockopt TCP_INFO: %s", qPrintable(qt_error_string(errno)));
        return {};
    }
    // Unacknowledged segments in flight, or window probes unanswered.
    return {true, info.tcpi_unacked > 0 || info.tcpi_probes > 0, qint64(info.tcpi_last_ack_recv)};
}

qint64 sendPastBuffer(QAbstractSocket& socket, const char* data, qint64 size, QString* why)
{
    const auto fd = static_cast<int>(socket.socketDescriptor());
    ssize_t sent;
    do {
        sent = ::send(fd, data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return sent;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    *why = qt_error_string(errno);
    return -1;
}
