#include "port_bank/lines/network_line.h"

#include "port_bank/lines/raw_tcp_protocol.h"
#include "port_bank/lines/rfc2217_protocol.h"
#include "port_bank/lines/server_notice.h"
#include "port_bank/lines/socket_tuning.h"

#include <utility>

namespace {

bool isUnreachable(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
        return true;
    default:
        return false;
    }
}

std::unique_ptr<LineProtocol> protocolFor(NetworkAddress::Protocol protocol)
{
    if (protocol == NetworkAddress::Protocol::Rfc2217)
        return std::make_unique<Rfc2217Protocol>();
    return std::make_unique<RawTcpProtocol>();
}

} // namespace

NetworkLine::NetworkLine(const NetworkAddress& address, const QString& name, QObject* parent)
    : SerialLine(parent), address_(address),
      name_(name.isEmpty() ? QStringLiteral("%1:%2").arg(address.host).arg(address.port) : name),
      protocol_(protocolFor(address.protocol))
{
    for (QTimer* timer : {&deadline_, &settle_, &settingsDeadline_})
        timer->setSingleShot(true);
    clock_.start();
    connect(&dialer_, &SocketDialer::connected, this, &NetworkLine::onDialed);
    connect(&dialer_, &SocketDialer::failed, this,
            [this](QAbstractSocket::SocketError error, const QString& why) {
                if (state_ == State::Connecting)
                    endAttempt(isUnreachable(error) ? Outcome::Unreachable : Outcome::Failed, why);
            });
    connect(&ackCheck_, &QTimer::timeout, this, &NetworkLine::checkAcks);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkLine::onSocketError);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { onSocketError(QAbstractSocket::RemoteHostClosedError); });
    connect(&deadline_, &QTimer::timeout, this, &NetworkLine::onDeadline);
    connect(&settle_, &QTimer::timeout, this, &NetworkLine::goUpWhenReady);
    connect(&settingsDeadline_, &QTimer::timeout, this, [this] {
        awaitingAnswer_ = false;
        emit settingsAnswered(false);
    });
}

NetworkLine::~NetworkLine()
{
    SendBatch::cancel(this);
    socket_.disconnect(this);
    socket_.abort();
}

SerialLine::Opening NetworkLine::open(const SerialSettings& settings)
{
    connectToLine(settings);
    switch (outcome_) {
    case Outcome::InUse:
        return Opening::InUse;
    case Outcome::Failed:
        return Opening::Failed;
    case Outcome::None:        // the first connection is still under way
    case Outcome::Connected:   // closed by us since
    case Outcome::Unreachable: // nothing listens, unknown host, no answer
    case Outcome::Lost:
        break;
    }
    return Opening::NoSuchDevice;
}

bool NetworkLine::connectToLine(const SerialSettings& settings)
{
    if (state_ != State::Idle)
        return false;
    if (lastStart_.isValid() && lastStart_.elapsed() < kRetryMs)
        return false;
    lastStart_.start();
    ++attempts_;
    opening_ = protocol_->start();
    held_.clear();
    asked_ = settings;
    pace_.setSettings(settings);
    pace_.clear();
    unackedBound_ = 0; // a fresh socket
    state_ = State::Connecting;
    deadline_.start(kConnectTimeoutMs);
    // Names are looked up by Qt on a thread of its own; the call returns at once.
    dialer_.dial(address_.host, address_.port);
    return true;
}

// Qt reads ahead no more than the line takes between two reads, so a flooding server is held
// back by TCP itself.
void NetworkLine::onDialed(qintptr descriptor)
{
    if (!socket_.setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState)) {
        SocketDialer::discard(descriptor);
        endAttempt(Outcome::Failed, socket_.errorString());
        return;
    }
    socket_.setReadBufferSize(kReadBound);
    onConnected();
}

void NetworkLine::onConnected()
{
    if (state_ != State::Connecting)
        return;
    state_ = State::Negotiating;
    tuneLineSocket(socket_);
    deadline_.start(kNegotiationTimeoutMs);
    settle_.start(kSettleMs);
    if (!opening_.isEmpty() && !send(std::exchange(opening_, QByteArray())))
        return;
    if (protocol_->takesSettings())
        sendSettings();
}

void NetworkLine::onReadyRead()
{
    readChunk();
    if (state_ != State::Idle && socket_.state() == QAbstractSocket::UnconnectedState)
        onSocketError(socket_.error());
}

// One chunk a read event: what is left raises the next one, after other events had a turn.
void NetworkLine::readChunk()
{
    qint64 taken = 0;
    while (state_ != State::Idle && taken < kReadBound && socket_.bytesAvailable() > 0) {
        const QByteArray chunk = socket_.read(qMin(kReadBound - taken, socket_.bytesAvailable()));
        if (chunk.isEmpty() || !takeChunk(chunk))
            return;
        taken += chunk.size();
    }
}

// False when the connection has ended on the way.
bool NetworkLine::takeChunk(const QByteArray& chunk)
{
    const bool tookSettings = protocol_->takesSettings();
    QByteArray data;
    QByteArray replies;
    const bool sound = protocol_->receive(chunk, data, replies);
    // The data first: a server that refuses us writes why and closes, and the write of a reply
    // may be what finds it gone.
    if (!data.isEmpty())
        takeData(std::move(data));
    if (state_ == State::Idle || (!replies.isEmpty() && !send(replies)))
        return false;
    if (!sound || (protocol_->refused() && state_ != State::Up)) {
        fail(Outcome::Failed, protocol_->errorString());
        return false;
    }
    if (!tookSettings && protocol_->takesSettings())
        sendSettings();
    if (state_ == State::Idle)
        return false;
    checkSettingsAnswer();
    goUpWhenReady();
    return state_ != State::Idle;
}

void NetworkLine::takeData(QByteArray bytes)
{
    if (state_ == State::Up) {
        emit dataArrived(bytes);
        return;
    }
    held_.append(bytes);
    // A server may talk before the line is ours (a refusal notice, then anything): what it may
    // say before that is bounded whatever the protocol.
    if (held_.size() > kEarlyDataLimit)
        fail(Outcome::Failed,
             QStringLiteral("the server sent more than %1 bytes before the line was ready")
                 .arg(kEarlyDataLimit));
}

// Anything but the start of a server's notice is the line talking.
bool NetworkLine::talking() const
{
    return !held_.isEmpty() && serverNoticeIn(held_, false) == ServerNotice::None;
}

void NetworkLine::goUpWhenReady()
{
    if (state_ == State::Negotiating && protocol_->ready(!settle_.isActive(), talking()))
        goUp();
}

void NetworkLine::goUp()
{
    state_ = State::Up;
    outcome_ = Outcome::Connected;
    error_.clear();
    deadline_.stop();
    settle_.stop();
    ackWatch_.clear();
    ackCheck_.start(kAckCheckMs);
    emit up();
    if (state_ == State::Up && !held_.isEmpty())
        emit dataArrived(std::exchange(held_, QByteArray()));
}

void NetworkLine::onSocketError(QAbstractSocket::SocketError error)
{
    switch (state_) {
    case State::Idle:
        return;
    case State::Connecting:
        endAttempt(isUnreachable(error) ? Outcome::Unreachable : Outcome::Failed,
                   socket_.errorString());
        return;
    case State::Negotiating:
    case State::Up:
        break;
    }
    // What the server wrote before it closed (a refusal, a last reply) is read first.
    readChunk();
    if (state_ == State::Negotiating) {
        if (serverNoticeIn(held_, true) == ServerNotice::InUse)
            endAttempt(Outcome::InUse, QStringLiteral("the server says the line is in use"));
        else
            endAttempt(Outcome::Failed, closedBeforeReady());
    } else if (state_ == State::Up) {
        loseConnection(socket_.errorString());
    }
}

// The server's own words, when it said any: ser2net says why it cannot open the line.
QString NetworkLine::closedBeforeReady() const
{
    const QString words = serverWords(held_);
    if (words.isEmpty())
        return QStringLiteral("the server closed the connection before the line was ready (%1)")
            .arg(socket_.errorString());
    return QStringLiteral("the server closed the connection before the line was ready: %1")
        .arg(words);
}

// outcome: Lost for a connection that merely went; Failed for one the server broke, which the
// port then shows as a failure until a connection comes up again.
void NetworkLine::loseConnection(const QString& why, Outcome outcome)
{
    state_ = State::Idle;
    outcome_ = outcome;
    error_ = why;
    stopTimers();
    dropHeld();
    socket_.abort();
    if (outcome == Outcome::Failed)
        emit warning(QStringLiteral("%1: %2").arg(name_, why));
    emit lost();
}

// A connection that was up is lost with the outcome; one still on its way ends with it.
void NetworkLine::fail(Outcome outcome, const QString& why)
{
    if (state_ == State::Up)
        loseConnection(why, outcome);
    else
        endAttempt(outcome, why);
}

// The system's own limits notice a host that vanishes while the line is idle (keep-alive);
// this notices one that vanishes while something waits for its acknowledgement.
void NetworkLine::checkAcks()
{
    const AckState acks = ackState(socket_);
    if (state_ == State::Up && acks.known &&
        ackWatch_.gone(acks.waiting, acks.sinceAckMs, clock_.elapsed()))
        loseConnection(
            QStringLiteral("the server acknowledged nothing for %1 s").arg(acks.sinceAckMs / 1000));
}

void NetworkLine::onDeadline()
{
    if (state_ == State::Connecting)
        endAttempt(Outcome::Unreachable,
                   QStringLiteral("no connection within %1 ms").arg(kConnectTimeoutMs));
    else if (state_ == State::Negotiating)
        endAttempt(Outcome::Failed, QStringLiteral("the server did not make the line ready "
                                                   "within %1 ms")
                                        .arg(kNegotiationTimeoutMs));
}

void NetworkLine::endAttempt(Outcome outcome, const QString& why)
{
    state_ = State::Idle;
    outcome_ = outcome;
    error_ = why;
    stopTimers();
    held_.clear();
    socket_.abort();
    if (outcome == Outcome::Failed)
        emit warning(QStringLiteral("%1: %2").arg(name_, why));
    emit attemptFailed();
}

void NetworkLine::stopTimers()
{
    dialer_.cancel();
    ackCheck_.stop();
    deadline_.stop();
    settle_.stop();
    settingsDeadline_.stop();
    awaitingAnswer_ = false;
}

void NetworkLine::applySettings(const SerialSettings& settings)
{
    asked_ = settings;
    if (state_ != State::Idle && protocol_->takesSettings())
        sendSettings();
}

void NetworkLine::sendSettings()
{
    const QByteArray requests = protocol_->settingsRequests(asked_);
    if (!requests.isEmpty() && !send(requests))
        return;
    awaitingAnswer_ = true;
    settingsDeadline_.start(kSettingsTimeoutMs);
    checkSettingsAnswer();
}

void NetworkLine::checkSettingsAnswer()
{
    if (!awaitingAnswer_)
        return;
    const LineProtocol::Answer answer = protocol_->answer(asked_);
    if (answer == LineProtocol::Answer::Waiting)
        return;
    awaitingAnswer_ = false;
    settingsDeadline_.stop();
    if (answer == LineProtocol::Answer::Accepted)
        pace_.setSettings(asked_);
    emit settingsAnswered(answer == LineProtocol::Answer::Accepted);
}

qint64 NetworkLine::close()
{
    if (state_ == State::Idle)
        return 0;
    handOverHeld();
    state_ = State::Idle;
    stopTimers();
    dropHeld();
    held_.clear();
    socket_.abort();
    return 0;
}
