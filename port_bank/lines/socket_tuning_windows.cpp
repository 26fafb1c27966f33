// SIO_TCP_INFO and its answer came with Windows 10 version 1703; older systems refuse the call.
#define NTDDI_VERSION 0x0A000003

#include "port_bank/lines/socket_tuning.h"

#include <QAbstractSocket>
#include <QVariant>

#include <utility>
#include <winsock2.h> // before the others, which need its types

#include <mstcpip.h>
#include <ws2tcpip.h>

namespace {

// TCP_KEEPCNT as Windows 10 version 1703 and later know it.
constexpr int kKeepCount = 16;

} // namespace

// The same timing as on Linux: the first probe after 5 s of silence, then one every 2 s, and
// the connection is dropped after 3 unanswered. Windows before 10 version 1703 (and wine) know
// no probe count and drop after their own 10, so a vanished host is noticed there after 25 s.
// Nagle's algorithm stays on, as on Linux.
void tuneLineSocket(QAbstractSocket& socket)
{
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const auto handle = SOCKET(socket.socketDescriptor());
    tcp_keepalive timing{1, 5000, 2000};
    DWORD returned = 0;
    if (WSAIoctl(handle, SIO_KEEPALIVE_VALS, &timing, sizeof timing, nullptr, 0, &returned, nullptr,
                 nullptr) != 0)
        qWarning("WSAIoctl SIO_KEEPALIVE_VALS: %s", qPrintable(qt_error_string(WSAGetLastError())));
    const DWORD count = 3;
    if (setsockopt(handle, IPPROTO_TCP, kKeepCount, reinterpret_cast<const char*>(&count),
                   sizeof count) != 0 &&
        WSAGetLastError() != WSAENOPROTOOPT && WSAGetLastError() != WSAEINVAL)
        qWarning("setsockopt TCP_KEEPCNT: %s", qPrintable(qt_error_string(WSAGetLastError())));
}

// Bytes sent and not yet acknowledged. Unlike Linux's count, bytes that wait in the system
// unsent are not in it; 0 where the system cannot say, which is told once.
qint64 unacknowledgedBytes(const QAbstractSocket& socket)
{
    static bool told = false;
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD returned = 0;
    if (WSAIoctl(SOCKET(socket.socketDescriptor()), SIO_TCP_INFO, &version, sizeof version, &info,
                 sizeof info, &returned, nullptr, nullptr) != 0) {
        if (!std::exchange(told, true))
            qWarning("WSAIoctl SIO_TCP_INFO (a network line's queue is counted in this program "
                     "only): %s",
                     qPrintable(qt_error_string(WSAGetLastError())));
        return 0;
    }
    return info.BytesInFlight;
}

// Windows does not say when the last acknowledgement came: a host that vanishes while data
// waits for it is noticed by the system's retransmission limit instead.
AckState ackState(const QAbstractSocket&)
{
    return {};
}

// Qt's buffer takes everything, as before the Linux path past it.
qint64 sendPastBuffer(QAbstractSocket&, const char*, qint64, QString*)
{
    return 0;
}
