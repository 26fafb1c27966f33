#include "port_bank/network_link.h"

#include <utility>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// What ser2net writes to a client it turns away because the line is taken, before it closes.
const QByteArray kInUseNotices[] = {QByteArrayLiteral("Port already in use\r\n"),
                                    QByteArrayLiteral("Port's device already in use\r\n")};

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

} // namespace

NetworkLink::NetworkLink(const NetworkAddress& address, QObject* parent)
    : QObject(parent), address_(address)
{
    for (QTimer* timer : {&deadline_, &settle_, &settingsDeadline_})
        timer->setSingleShot(true);
    connect(&socket_, &QTcpSocket::connected, this, &NetworkLink::onConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkLink::onReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkLink::onSocketError);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { onSocketError(QAbstractSocket::RemoteHostClosedError); });
    connect(&deadline_, &QTimer::timeout, this, &NetworkLink::onDeadline);
    connect(&settle_, &QTimer::timeout, this, [this] {
        if (state_ == State::Negotiating &&
            (address_.protocol == NetworkAddress::Protocol::RawTcp ||
             codec_.comPort() == TelnetCodec::ComPort::Accepted))
            goUp();
    });
    connect(&settingsDeadline_, &QTimer::timeout, this, [this] {
        if (lineSettings_ == LineSettings::Waiting)
            lineSettings_ = LineSettings::Refused;
    });
}

NetworkLink::~NetworkLink()
{
    socket_.disconnect(this);
    socket_.abort();
}

bool NetworkLink::connectToLine(const SerialSettings& settings)
{
    if (state_ != State::Idle)
        return false;
    if (lastStart_.isValid() && lastStart_.elapsed() < kRetryMs)
        return false;
    lastStart_.start();
    ++attempts_;
    codec_ = TelnetCodec();
    held_.clear();
    asked_ = settings;
    lineSettings_ = address_.protocol == NetworkAddress::Protocol::Rfc2217
                        ? LineSettings::Waiting
                        : LineSettings::Confirmed;
    state_ = State::Connecting;
    deadline_.start(kConnectTimeoutMs);
    // Names are looked up by Qt on a thread of its own; the call returns at once. Unbuffered:
    // a command goes to the socket at once, and only what it does not take waits in Qt's
    // queue; and Qt reads nothing ahead, so a flooding server is held back by TCP itself.
    socket_.connectToHost(address_.host, address_.port,
                          QIODevice::ReadWrite | QIODevice::Unbuffered);
    return true;
}

void NetworkLink::onConnected()
{
    if (state_ != State::Connecting)
        return;
    state_ = State::Negotiating;
    tuneSocket();
    deadline_.start(kNegotiationTimeoutMs);
    settle_.start(kSettleMs);
    if (address_.protocol == NetworkAddress::Protocol::Rfc2217)
        send(codec_.openingRequests());
}

void NetworkLink::onReadyRead()
{
    // Unbuffered, Qt learns of the server's close only from a read: a read event with nothing
    // to read is the close. (A read that finds nothing yet would leave Qt's notifier off.)
    if (socket_.bytesAvailable() == 0)
        socket_.read(1);
    else
        readChunk();
    if (state_ != State::Idle && socket_.state() == QAbstractSocket::UnconnectedState)
        onSocketError(socket_.error());
}

// One chunk a read event: what is left raises the next one, after other events had a turn.
void NetworkLink::readChunk()
{
    qint64 taken = 0;
    while (state_ != State::Idle && taken < kReadChunk && socket_.bytesAvailable() > 0) {
        QByteArray chunk = socket_.read(qMin(kReadChunk - taken, socket_.bytesAvailable()));
        if (chunk.isEmpty())
            return;
        taken += chunk.size();
        if (address_.protocol == NetworkAddress::Protocol::RawTcp) {
            takeData(std::move(chunk));
            continue;
        }
        const bool wasAccepted = codec_.comPort() == TelnetCodec::ComPort::Accepted;
        QByteArray data;
        QByteArray answers;
        const bool sound = codec_.receive(chunk, data, answers);
        // The data first: a server that refuses us writes why and closes, and the write of an
        // answer may be what finds it gone.
        if (!data.isEmpty())
            takeData(std::move(data));
        if (state_ == State::Idle || (!answers.isEmpty() && !send(answers)))
            return;
        if (!sound) {
            fail(Outcome::Failed, codec_.errorString());
            return;
        }
        if (codec_.comPort() == TelnetCodec::ComPort::Refused && state_ != State::Up) {
            endAttempt(Outcome::Failed, QStringLiteral("the server refused COM-PORT-OPTION"));
            return;
        }
        if (!wasAccepted && codec_.comPort() == TelnetCodec::ComPort::Accepted)
            sendSettings(); // requests wait for the option, as RFC 2217 asks
        if (state_ == State::Idle)
            return;
        checkSettingsAnswer();
        if (state_ == State::Negotiating && codec_.comPort() == TelnetCodec::ComPort::Accepted &&
            (codec_.hasComPortAnswer() || !settle_.isActive()))
            goUp();
    }
}

void NetworkLink::takeData(QByteArray bytes)
{
    if (state_ == State::Idle)
        return;
    if (state_ == State::Up) {
        emit dataArrived(bytes);
        return;
    }
    held_.append(bytes);
    // A server may talk before the line is ours (a refusal notice, then anything): what it may
    // say before that is bounded whatever the protocol.
    if (held_.size() > kEarlyDataLimit) {
        fail(Outcome::Failed,
             QStringLiteral("the server sent more than %1 bytes before the line was ready")
                 .arg(kEarlyDataLimit));
        return;
    }
    // Anything but the start of the server's refusal is the line talking: the line is ours.
    if (address_.protocol == NetworkAddress::Protocol::RawTcp && !heldIsInUseNotice(false))
        goUp();
}

bool NetworkLink::heldIsInUseNotice(bool complete) const
{
    for (const QByteArray& notice : kInUseNotices) {
        const QByteArray text = notice.chopped(2); // with or without its line end
        if (complete ? held_.startsWith(text)
                     : (held_.size() <= notice.size() ? notice.startsWith(held_)
                                                      : held_.startsWith(notice)))
            return true;
    }
    return false;
}

void NetworkLink::goUp()
{
    state_ = State::Up;
    outcome_ = Outcome::Connected;
    error_.clear();
    deadline_.stop();
    settle_.stop();
    emit up();
    if (state_ == State::Up && !held_.isEmpty())
        emit dataArrived(std::exchange(held_, QByteArray()));
}

void NetworkLink::onSocketError(QAbstractSocket::SocketError error)
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
        if (heldIsInUseNotice(true))
            endAttempt(Outcome::InUse, QStringLiteral("the server says the line is in use"));
        else
            endAttempt(Outcome::Failed,
                       QStringLiteral("the server closed the connection before the line was "
                                      "ready (%1)")
                           .arg(socket_.errorString()));
    } else if (state_ == State::Up) {
        loseConnection(socket_.errorString());
    }
}

void NetworkLink::loseConnection(const QString& why)
{
    state_ = State::Idle;
    outcome_ = Outcome::Lost;
    error_ = why;
    deadline_.stop();
    settle_.stop();
    settingsDeadline_.stop();
    socket_.abort();
    emit lost();
}

// A connection that was up is lost; one still on its way ends with the outcome.
void NetworkLink::fail(Outcome outcome, const QString& why)
{
    if (state_ == State::Up)
        loseConnection(why);
    else
        endAttempt(outcome, why);
}

void NetworkLink::onDeadline()
{
    if (state_ == State::Connecting)
        endAttempt(Outcome::Unreachable,
                   QStringLiteral("no connection within %1 ms").arg(kConnectTimeoutMs));
    else if (state_ == State::Negotiating)
        endAttempt(Outcome::Failed,
                   QStringLiteral("the server did not agree COM-PORT-OPTION within %1 ms")
                       .arg(kNegotiationTimeoutMs));
}

void NetworkLink::endAttempt(Outcome outcome, const QString& why)
{
    state_ = State::Idle;
    outcome_ = outcome;
    error_ = why;
    deadline_.stop();
    settle_.stop();
    settingsDeadline_.stop();
    held_.clear();
    socket_.abort();
    emit attemptFailed();
}

bool NetworkLink::write(QByteArrayView data)
{
    if (state_ != State::Up)
        return false;
    if (address_.protocol == NetworkAddress::Protocol::RawTcp)
        return send(QByteArray::fromRawData(data.data(), data.size()));
    return send(codec_.encodeData(data));
}

// Unbuffered, a write that fails (the server has gone) raises no signal: it ends the
// connection here.
bool NetworkLink::send(const QByteArray& bytes)
{
    if (socket_.write(bytes) == bytes.size())
        return true;
    if (state_ != State::Idle)
        onSocketError(socket_.error());
    return false;
}

qint64 NetworkLink::bytesToWrite() const
{
    return state_ == State::Up ? socket_.bytesToWrite() : 0;
}

void NetworkLink::applySettings(const SerialSettings& settings)
{
    asked_ = settings;
    if (address_.protocol != NetworkAddress::Protocol::Rfc2217)
        return;
    if (state_ != State::Idle && codec_.comPort() == TelnetCodec::ComPort::Accepted)
        sendSettings();
    else
        lineSettings_ = LineSettings::Waiting; // asked for once the option is agreed
}

void NetworkLink::sendSettings()
{
    if (!send(codec_.settingsRequests(asked_)))
        return;
    lineSettings_ = LineSettings::Waiting;
    settingsDeadline_.start(kSettingsTimeoutMs);
}

void NetworkLink::checkSettingsAnswer()
{
    if (lineSettings_ != LineSettings::Waiting)
        return;
    if (codec_.comPort() == TelnetCodec::ComPort::Refused) {
        lineSettings_ = LineSettings::Refused;
        settingsDeadline_.stop();
        return;
    }
    switch (TelnetCodec::judge(asked_, codec_.lineReport())) {
    case TelnetCodec::SettingsAnswer::Waiting:
        return;
    case TelnetCodec::SettingsAnswer::Confirmed:
        lineSettings_ = LineSettings::Confirmed;
        break;
    case TelnetCodec::SettingsAnswer::Refused:
        lineSettings_ = LineSettings::Refused;
        break;
    }
    settingsDeadline_.stop();
}

void NetworkLink::close()
{
    if (state_ == State::Idle)
        return;
    state_ = State::Idle;
    deadline_.stop();
    settle_.stop();
    settingsDeadline_.stop();
    held_.clear();
    socket_.abort();
}

// A server or host that vanishes without a word (power cut, cable pulled) is noticed within
// seconds instead of the system's two hours. Nagle's algorithm stays on: a command to an idle
// line leaves at once, and commands sent back to back while earlier ones are still unacknowledged
// travel together, which lets one device server keep up with sixteen ports of fast sweep.
void NetworkLink::tuneSocket()
{
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const auto fd = static_cast<int>(socket_.socketDescriptor());
    const struct {
        int option;
        int value;
        const char* name;
    } tunings[] = {
        {TCP_KEEPIDLE, 5, "TCP_KEEPIDLE"},
        {TCP_KEEPINTVL, 2, "TCP_KEEPINTVL"},
        {TCP_KEEPCNT, 3, "TCP_KEEPCNT"},
        {TCP_USER_TIMEOUT, 10000, "TCP_USER_TIMEOUT"}, // ms that sent data may stay unacknowledged
    };
    for (const auto& tuning : tunings) {
        if (::setsockopt(fd, IPPROTO_TCP, tuning.option, &tuning.value, sizeof tuning.value) != 0)
            qWarning("setsockopt %s: %s", tuning.name, qPrintable(qt_error_string(errno)));
    }
#endif
}
