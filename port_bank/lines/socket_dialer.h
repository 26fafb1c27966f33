#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

class QHostInfo;

// One TCP connection attempt: a name lookup, then exactly one connect(2) to the first address.
// QTcpSocket connects again by itself when a server takes a connection and resets it before
// the socket is checked, hundreds of times a second; a dialer never does, so each attempt is
// one connection at the server.
class SocketDialer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SocketDialer() override;

    // Starts an attempt, dropping one under way.
    void dial(const QString& host, quint16 port);
    // Drops the attempt under way, if any; no signal follows.
    void cancel();
    // Closes a descriptor from connected() that found no taker.
    static void discard(qintptr descriptor);

signals:
    // The connection is up; the receiver owns the descriptor.
    void connected(qintptr descriptor);
    void failed(QAbstractSocket::SocketError error, const QString& why);

private:
    void onLookedUp(const QHostInfo& info);
    void onWritable();
    void fail(QAbstractSocket::SocketError error, const QString& why);

    quint16 port_ = 0;
    int lookupId_ = -1;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
