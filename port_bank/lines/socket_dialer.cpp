#include "port_bank/lines/socket_dialer.h"

#include <QHostInfo>
#include <utility>

// The platform's part (the socket calls) is in socket_dialer_posix.cpp or
// socket_dialer_windows.cpp.

SocketDialer::~SocketDialer()
{
    cancel();
}

void SocketDialer::dial(const QString& host, quint16 port)
{
    cancel();
    port_ = port;
    lookupId_ = QHostInfo::lookupHost(host, this, &SocketDialer::onLookedUp);
}

void SocketDialer::cancel()
{
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
    addresses_.clear();
    notifier_.reset();
    if (fd_ >= 0)
        discard(std::exchange(fd_, -1));
}

void SocketDialer::onLookedUp(const QHostInfo& info)
{
    if (info.lookupId() != lookupId_)
        return;
    lookupId_ = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(QAbstractSocket::HostNotFoundError, info.errorString());
        return;
    }
    addresses_ = info.addresses();
    connectNext();
}

void SocketDialer::fail(QAbstractSocket::SocketError error, const QString& why)
{
    notifier_.reset();
    if (fd_ >= 0)
        discard(std::exchange(fd_, -1));
    if (!addresses_.isEmpty()) {
        connectNext();
        return;
    }
    cancel();
    emit failed(error, why);
}
