#pragma once

#include "port_bank/network_address.h"
#include "port_bank/serial_settings.h"
#include "port_bank/telnet_codec.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// The connection behind a network port: a serial line served by a device server (ser2net, a
// terminal server) over TCP, raw or with RFC 2217. Nothing here waits: a connection is started
// and runs through name lookup, connect and negotiation on the event loop, and ends either up
// (a usable line) or with an outcome that says why not.
class NetworkLink : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, Negotiating, Up };
    enum class Outcome {
        None,        // no attempt has ended yet
        Connected,   // up (or was, until close())
        InUse,       // the server said the line is held by another client, and closed
        Unreachable, // refused, unknown host, unreachable, or no answer in time
        Failed,      // anything else: a broken or hostile server, an option refused
        Lost,        // the connection dropped while up
    };
    enum class LineSettings { Confirmed, Waiting, Refused };

    static constexpr int kRetryMs = 1000;          // at most one attempt a second
    static constexpr int kConnectTimeoutMs = 3000; // name lookup and connect
    static constexpr int kNegotiationTimeoutMs = 3000;
    // A server that refuses a client for a line in use says so and closes at once; a fresh
    // connection that has stayed open this long without that is a line.
    static constexpr int kSettleMs = 300;
    static constexpr int kSettingsTimeoutMs = 3000; // an unanswered setting counts as refused
    static constexpr qint64 kReadChunk = 64 * 1024; // taken from the socket per read event
    // Line data held while the connection is not yet up (RFC 2217 before the option is agreed).
    static constexpr qsizetype kEarlyDataLimit = 64 * 1024;

    explicit NetworkLink(const NetworkAddress& address, QObject* parent = nullptr);
    ~NetworkLink() override;

    const NetworkAddress& address() const { return address_; }

    // Starts a connection that will ask for these line settings (RFC 2217). Does nothing and
    // returns false while one is under way or up, or within kRetryMs of the last start.
    bool connectToLine(const SerialSettings& settings);

    State state() const { return state_; }
    bool isUp() const { return state_ == State::Up; }
    Outcome outcome() const { return outcome_; }
    QString errorString() const { return error_; }
    int attempts() const { return attempts_; }

    // Line data out; false when the link is not up or the socket refused it.
    bool write(QByteArrayView data);
    // Bytes on their way to the server and not yet taken by the system.
    qint64 bytesToWrite() const;

    // RFC 2217: asks the far line for these settings (raw TCP: nothing to do).
    void applySettings(const SerialSettings& settings);
    // What the server made of the latest settings asked for; raw TCP: always Confirmed.
    LineSettings lineSettings() const { return lineSettings_; }

    // Drops the connection and its pending output at once; the outcome stays as it was.
    void close();

signals:
    void up();
    // Line data in arrival order, negotiation taken out.
    void dataArrived(const QByteArray& bytes);
    // The connection dropped while up; the link is idle again.
    void lost();
    // An attempt ended without coming up; outcome() says why.
    void attemptFailed();

private:
    void onConnected();
    void onReadyRead();
    void readChunk();
    bool send(const QByteArray& bytes);
    void onSocketError(QAbstractSocket::SocketError error);
    void onDeadline();
    void takeData(QByteArray bytes);
    void goUp();
    void endAttempt(Outcome outcome, const QString& why);
    void loseConnection(const QString& why);
    void fail(Outcome outcome, const QString& why);
    void sendSettings();
    void checkSettingsAnswer();
    bool heldIsInUseNotice(bool complete) const;
    void tuneSocket();

    NetworkAddress address_;
    QTcpSocket socket_;
    TelnetCodec codec_;
    QTimer deadline_; // connect or negotiation time limit
    QTimer settle_;   // see kSettleMs
    QTimer settingsDeadline_;
    QElapsedTimer lastStart_;
    State state_ = State::Idle;
    Outcome outcome_ = Outcome::None;
    QString error_;
    int attempts_ = 0;
    SerialSettings asked_;
    LineSettings lineSettings_ = LineSettings::Confirmed;
    QByteArray held_; // line data that arrived before the link came up
};
