#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

class QHostInfo;

// One TCP connection attempt: a name lookup, then one connect(2) to each address in turn until
// one is taken. QTcpSocket connects again by itself when a server takes a connection and resets
// it before the socket is checked, hundreds of times a second; a dialer never connects to an
// address twice, so a server sees at most one connection an attempt.
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
    void connectNext();
    void onWritable();
    void fail(QAbstractSocket::SocketError error, const QString& why);

    quint16 port_ = 0;
    QList<QHostAddress> addresses_; // still to try
    int lookupId_ = -1;
    qintptr fd_ = -1; // the socket being connected
    std::unique_ptr<QSocketNotifier> notifier_;
};
