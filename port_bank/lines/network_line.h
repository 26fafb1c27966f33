#pragma once

#include "port_bank/lines/ack_watch.h"
#include "port_bank/lines/line_pace.h"
#include "port_bank/lines/line_protocol.h"
#include "port_bank/lines/network_address.h"
#include "port_bank/lines/send_batch.h"
#include "port_bank/lines/serial_line.h"
#include "port_bank/lines/socket_dialer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

// A serial line served by a device server (ser2net, a terminal server) over TCP, raw or with
// RFC 2217. Nothing here waits: a connection is started and runs through name lookup, connect
// and negotiation on the event loop, and ends either up (a usable line) or with an outcome that
// says why not.
class NetworkLine : public SerialLine, private SendBatch::Holder {
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

    static constexpr int kRetryMs = 1000;          // at most one attempt a second
    static constexpr int kConnectTimeoutMs = 3000; // name lookup and connect
    static constexpr int kNegotiationTimeoutMs = 3000;
    // A server that refuses a client for a line in use says so and closes at once; a fresh
    // connection that has stayed open this long without that is a line.
    static constexpr int kSettleMs = 300;
    static constexpr int kSettingsTimeoutMs = 3000; // an unanswered setting counts as refused
    // Line data held while the connection is not yet up (RFC 2217 before the option is agreed).
    static constexpr qsizetype kEarlyDataLimit = 64 * 1024;
    // Unacknowledged bytes that are only in flight to a server that keeps up: half the bound,
    // waiting on the server's delayed acknowledgements.
    static constexpr qint64 kInFlight = 32 * 1024;
    // How far a writer that sends back to back may run ahead of the far line's pace: the server
    // holds it, and the far line stays busy while the writer's thread waits for a core.
    static constexpr qint64 kPaceLeadNs = 10'000'000;
    // A writer waiting on the pace is woken once the far line has taken this much more than it
    // waits for, so that it writes that much in one go: a sweep at 4 Mbaud wakes 125 times a
    // second rather than 1000, with a send per port each time, and still finds the far line
    // with 2 ms and the pacer's low-water mark ahead of it.
    static constexpr qint64 kPaceStepNs = 8'000'000;
    // How often a waiting writer asks again after what the server has acknowledged.
    static constexpr qint64 kAckRecheckNs = 1'000'000;
    static constexpr int kAckCheckMs =
        1000; // how often a line that is up is asked after (AckWatch)
    // Line data held for one send (SendBatch) at most: above what a sweep writes between two
    // wakes at the fastest line (kPaceStepNs), so that one send carries it.
    static constexpr qsizetype kBatchBytes = 4096;

    // name: how warnings call the line (the device text); "" for the address itself.
    explicit NetworkLine(const NetworkAddress& address, const QString& name = {},
                         QObject* parent = nullptr);
    ~NetworkLine() override;

    // Starts a connection that will ask for these settings, and says how the last one ended,
    // in the terms of a local device: a line on its way or gone counts as no device yet.
    Opening open(const SerialSettings& settings) override;
    bool isUp() const override { return state_ == State::Up; }
    // Asked at once while the connection takes settings, otherwise once it does.
    void applySettings(const SerialSettings& settings) override;
    qint64 write(const QByteArray& bytes) override;
    // Bytes written that cannot yet have left the far line: what waits in Qt and in the system
    // for the server's acknowledgement, or, when more, what the far line still has to send at
    // its speed (RFC 2217: the speed it was set to; raw TCP: the speed of the settings asked).
    qint64 bytesToWrite() const override;
    // The far line's backlog at its speed, and what waits beyond a network's usual flight.
    qint64 bytesToPace(qint64 nowNs) const override;
    bool queueFits(qint64 bytes, qint64 limit) const override;
    qint64 paceRecheckNs(qint64 level) const override;
    void pushOut() override { sendHeld(); }
    void handOverHeld() override;
    bool carriesSettings() const override { return protocol_->carriesSettings(); }
    // Drops the connection and its pending output at once; the outcome stays as it was.
    qint64 close() override;

    // Starts a connection. Does nothing and returns false while one is under way or up, or
    // within kRetryMs of the last start.
    bool connectToLine(const SerialSettings& settings);
    State state() const { return state_; }
    Outcome outcome() const { return outcome_; }
    QString errorString() const { return error_; }
    int attempts() const { return attempts_; }

signals:
    // An attempt ended without coming up; outcome() says why.
    void attemptFailed();

private:
    void onDialed(qintptr descriptor);
    void onConnected();
    void onReadyRead();
    void readChunk();
    bool takeChunk(const QByteArray& chunk);
    bool send(const QByteArray& bytes);
    bool sendData(const QByteArray& wire);
    void sendHeld() override;
    void dropHeld();
    qint64 unacknowledged() const;
    void onSocketError(QAbstractSocket::SocketError error);
    void onDeadline();
    void takeData(QByteArray bytes);
    bool talking() const;
    void goUpWhenReady();
    void goUp();
    void endAttempt(Outcome outcome, const QString& why);
    void loseConnection(const QString& why, Outcome outcome = Outcome::Lost);
    void checkAcks();
    QString closedBeforeReady() const;
    void fail(Outcome outcome, const QString& why);
    void stopTimers();
    void sendSettings();
    void checkSettingsAnswer();

    NetworkAddress address_;
    QString name_;
    std::unique_ptr<LineProtocol> protocol_;
    SocketDialer dialer_;
    QTcpSocket socket_;
    QTimer deadline_; // connect or negotiation time limit
    QTimer settle_;   // see kSettleMs
    QTimer settingsDeadline_;
    QTimer ackCheck_;
    AckWatch ackWatch_;
    LinePace pace_;
    QElapsedTimer clock_; // monotonic, for the pace and the watch
    QElapsedTimer lastStart_;
    State state_ = State::Idle;
    Outcome outcome_ = Outcome::None;
    QString error_;
    int attempts_ = 0;
    SerialSettings asked_;
    bool awaitingAnswer_ = false; // settings requests sent, no answer yet
    QByteArray opening_;          // what the protocol sends first, once connected
    QByteArray held_;             // line data that arrived before the line came up
    // Commands written since the event loop last looked at the system (wire bytes), counted as
    // sent as what the socket takes is; and the buffer the last of them went out from.
    QByteArray batch_;
    QByteArray sending_;
    // At least what the system holds unacknowledged: what it said last, plus everything handed
    // to the socket since. While even this is small, the system need not be asked, which would
    // cost a call for every port and command of a fast sweep.
    mutable qint64 unackedBound_ = 0;
};
