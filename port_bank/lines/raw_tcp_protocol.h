#pragma once

#include "port_bank/lines/line_protocol.h"

// Raw TCP: the connection is the line, byte for byte. It carries no settings: the server's own
// settings for the line are in force, and every settings text is taken as it is.
class RawTcpProtocol : public LineProtocol {
public:
    QByteArray start() override { return {}; }
    bool receive(const QByteArray& bytes, QByteArray& data, QByteArray&) override
    {
        data.append(bytes);
        return true;
    }
    QByteArray encode(const QByteArray& data) const override { return data; }
    bool refused() const override { return false; }
    // A server that turns a client away says so at once and closes.
    bool ready(bool settled, bool talking) const override { return settled || talking; }
    bool carriesSettings() const override { return false; }
    // Nothing to send, and nothing to wait for.
    bool takesSettings() const override { return true; }
    QByteArray settingsRequests(const SerialSettings&) override { return {}; }
    Answer answer(const SerialSettings&) const override { return Answer::Accepted; }
};
