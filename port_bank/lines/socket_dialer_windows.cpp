#include "port_bank/lines/socket_dialer.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

QAbstractSocket::SocketError socketErrorOf(int error)
{
    switch (error) {
    case WSAECONNREFUSED:
        return QAbstractSocket::ConnectionRefusedError;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
        return QAbstractSocket::NetworkError;
    case WSAETIMEDOUT:
        return QAbstractSocket::SocketTimeoutError;
    case WSAEACCES:
        return QAbstractSocket::SocketAccessError;
    default:
        return QAbstractSocket::UnknownSocketError;
    }
}

// Winsock is started once for the program; Qt starts it too, and the count it keeps makes the
// two starts one.
bool startWinsock()
{
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0)
        qWarning("WSAStartup: %s", qPrintable(qt_error_string(started)));
    return started == 0;
}

} // namespace

void SocketDialer::discard(qintptr descriptor)
{
    if (closesocket(SOCKET(descriptor)) != 0)
        qWarning("closesocket: %s", qPrintable(qt_error_string(WSAGetLastError())));
}

// The next address, or the failure of the last one when none is left.
void SocketDialer::connectNext()
{
    const QHostAddress address = addresses_.takeFirst();
    sockaddr_storage peer{};
    int length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&peer);
        in->sin_family = AF_INET;
        in->sin_port = htons(port_);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&peer);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port_);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::copy(std::begin(bytes.c), std::end(bytes.c), in6->sin6_addr.s6_addr);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    }
    if (!startWinsock()) {
        fail(QAbstractSocket::UnknownSocketError, QStringLiteral("Winsock did not start"));
        return;
    }
    // Overlapped, as Qt makes its own sockets; not inherited by programs started from here.
    const SOCKET socket = WSASocketW(peer.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        fail(socketErrorOf(error), QStringLiteral("socket: %1").arg(qt_error_string(error)));
        return;
    }
    fd_ = qintptr(socket);
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        const int error = WSAGetLastError();
        fail(socketErrorOf(error), QStringLiteral("ioctlsocket: %1").arg(qt_error_string(error)));
        return;
    }
    // Windows tells the end of a connect, refused or not, as the socket's write notice; asked for
    // before the connect, so that an end that comes at once cannot pass unseen. (Wine tells no
    // refusal this way: there the connect deadline ends the attempt.)
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SocketDialer::onWritable);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), length) != 0) {
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            fail(socketErrorOf(error), qt_error_string(error));
            return;
        }
    }
}

// The connect has ended, one way or the other; never connect again from here.
void SocketDialer::onWritable()
{
    notifier_.reset();
    int error = 0;
    int size = sizeof error;
    if (getsockopt(SOCKET(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = WSAGetLastError();
    if (error != 0) {
        fail(socketErrorOf(error), qt_error_string(error));
        return;
    }
    emit connected(std::exchange(fd_, -1));
}
