#pragma once

#include "port_bank/lines/line_protocol.h"
#include "port_bank/lines/telnet_codec.h"

// Telnet with COM-PORT-OPTION (RFC 2217): the line is ours once the server has agreed the
// option, and settings go out as requests that the server answers.
class Rfc2217Protocol : public LineProtocol {
public:
    QByteArray start() override;
    bool receive(const QByteArray& bytes, QByteArray& data, QByteArray& replies) override;
    QByteArray encode(const QByteArray& data) const override { return codec_.encodeData(data); }
    bool refused() const override { return codec_.comPort() == TelnetCodec::ComPort::Refused; }
    bool ready(bool settled, bool talking) const override;
    // Requests wait for the option, as RFC 2217 asks.
    bool takesSettings() const override
    {
        return codec_.comPort() == TelnetCodec::ComPort::Accepted;
    }
    QByteArray settingsRequests(const SerialSettings& settings) override
    {
        return codec_.settingsRequests(settings);
    }
    Answer answer(const SerialSettings& asked) const override;
    QString errorString() const override;

private:
    TelnetCodec codec_;
};
