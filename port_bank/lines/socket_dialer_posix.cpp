#include "port_bank/lines/socket_dialer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

QAbstractSocket::SocketError socketErrorOf(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return QAbstractSocket::ConnectionRefusedError;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return QAbstractSocket::NetworkError;
    case ETIMEDOUT:
        return QAbstractSocket::SocketTimeoutError;
    case EACCES:
    case EPERM:
        return QAbstractSocket::SocketAccessError;
    default:
        return QAbstractSocket::UnknownSocketError;
    }
}

void closeDescriptor(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        qWarning("close socket: %s", qPrintable(qt_error_string(errno)));
}

} // namespace

void SocketDialer::discard(qintptr descriptor)
{
    closeDescriptor(int(descriptor));
}

// The next address, or the failure of the last one when none is left.
void SocketDialer::connectNext()
{
    const QHostAddress address = addresses_.takeFirst();
    sockaddr_storage peer{};
    socklen_t length = 0;
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
    const int fd = ::socket(peer.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(socketErrorOf(errno), QStringLiteral("socket: %1").arg(qt_error_string(errno)));
        return;
    }
    fd_ = fd;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), length);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS) {
        fail(socketErrorOf(errno), qt_error_string(errno));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SocketDialer::onWritable);
}

// The connect has ended, one way or the other; never connect again from here.
void SocketDialer::onWritable()
{
    notifier_.reset();
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(fd_), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        fail(socketErrorOf(error), qt_error_string(error));
        return;
    }
    emit connected(std::exchange(fd_, -1));
}
