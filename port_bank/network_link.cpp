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
    // Qt reads no further ahead than this, so a flooding server is held back by TCP itself.
    socket_.setReadBufferSize(kReadChunk);
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
    // Names are looked up by Qt on a thread of its own; the call returns at once.
    socket_.connectToHost(address_.host, address_.port);
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
        socket_.write(codec_.openingRequests());
}

void NetworkLink::onReadyRead()
{
    while (state_ != State::Idle && socket_.bytesAvailable() > 0) {
        QByteArray chunk = socket_.read(kReadChunk);
        if (chunk.isEmpty())
            return;
        if (address_.protocol == NetworkAddress::Protocol::RawTcp) {
            takeData(std::move(chunk));
            continue;
        }
        const bool wasAccepted = codec_.comPort() == TelnetCodec::ComPort::Accepted;
        QByteArray data;
        QByteArray answers;
        const bool sound = codec_.receive(chunk, data, answers);
        if (!answers.isEmpty())
            socket_.write(answers);
        if (!sound) {
            endAttempt(Outcome::Failed, codec_.errorString());
            return;
        }
        if (codec_.comPort() == TelnetCodec::ComPort::Refused && state_ != State::Up) {
            endAttempt(Outcome::Failed, QStringLiteral("the server refused COM-PORT-OPTION"));
            return;
        }
        if (!wasAccepted && codec_.comPort() == TelnetCodec::ComPort::Accepted)
            sendSettings(); // requests wait for the option, as RFC 2217 asks
        checkSettingsAnswer();
        if (state_ == State::Negotiating && codec_.comPort() == TelnetCodec::ComPort::Accepted &&
            (codec_.hasComPortAnswer() || !settle_.isActive()))
            goUp();
        if (!data.isEmpty())
            takeData(std::move(data));
    }
}

void NetworkLink::takeData(QByteArray bytes)
{
    if (state_ == State::Up) {
        emit dataArrived(bytes);
        return;
    }
    held_.append(bytes);
    if (address_.protocol == NetworkAddress::Protocol::RawTcp) {
        // Anything but the start of the server's refusal is the line talking: the line is ours.
        if (!heldIsInUseNotice(false))
            goUp();
    } else if (held_.size() > kEarlyDataLimit) {
        endAttempt(Outcome::Failed,
                   QStringLiteral("the server sent more than %1 bytes before agreeing the options")
                       .arg(kEarlyDataLimit));
    }
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
    onReadyRead();
    if (state_ == State::Negotiating) {
        if (heldIsInUseNotice(true))
            endAttempt(Outcome::InUse, QStringLiteral("the server says the line is in use"));
        else
            endAttempt(Outcome::Failed,
                       QStringLiteral("the server closed the connection before the line was "
                                      "ready (%1)")
                           .arg(socket_.errorString()));
    } else if (state_ == State::Up) {
        state_ = State::Idle;
        outcome_ = Outcome::Lost;
        error_ = socket_.errorString();
        deadline_.stop();
        settle_.stop();
        settingsDeadline_.stop();
        socket_.abort();
        emit lost();
    }
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
        return socket_.write(data.data(), data.size()) == data.size();
    const QByteArray wire = codec_.encodeData(data);
    return socket_.write(wire) == wire.size();
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
    socket_.write(codec_.settingsRequests(asked_));
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

// Commands go out at once, and a server or host that vanishes without a word (power cut,
// cable pulled) is noticed within seconds instead of the system's two hours.
void NetworkLink::tuneSocket()
{
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
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
