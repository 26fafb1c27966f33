#include "port_bank/lines/rfc2217_protocol.h"

QByteArray Rfc2217Protocol::start()
{
    codec_ = TelnetCodec();
    return codec_.openingRequests();
}

bool Rfc2217Protocol::receive(const QByteArray& bytes, QByteArray& data, QByteArray& replies)
{
    return codec_.receive(bytes, data, replies);
}

bool Rfc2217Protocol::ready(bool settled, bool) const
{
    // The first answer to a setting shows the server at work on the line; without one, a
    // server that has not turned us away by now will not.
    return codec_.comPort() == TelnetCodec::ComPort::Accepted &&
           (codec_.hasComPortAnswer() || settled);
}

LineProtocol::Answer Rfc2217Protocol::answer(const SerialSettings& asked) const
{
    if (refused())
        return Answer::Refused;
    switch (TelnetCodec::judge(asked, codec_.lineReport())) {
    case TelnetCodec::SettingsAnswer::Waiting:
        break;
    case TelnetCodec::SettingsAnswer::Confirmed:
        return Answer::Accepted;
    case TelnetCodec::SettingsAnswer::Refused:
        return Answer::Refused;
    }
    return Answer::Waiting;
}

QString Rfc2217Protocol::errorString() const
{
    if (codec_.failed() || !refused())
        return codec_.errorString();
    return QStringLiteral("the server refused COM-PORT-OPTION");
}
