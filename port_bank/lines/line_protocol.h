#pragma once

#include "port_bank/lines/serial_settings.h"

#include <QByteArray>
#include <QString>

// How line data and line settings travel over a connection to a device server: the part of a
// network line that differs between raw TCP and RFC 2217. No socket here: the line moves the
// bytes and asks these questions at the points where the protocols part ways.
class LineProtocol {
public:
    enum class Answer { Waiting, Accepted, Refused };

    virtual ~LineProtocol() = default;

    // A fresh connection: forgets the last one and says what to send first.
    virtual QByteArray start() = 0;
    // Bytes from the server: line data is appended to data, replies to replies. False once the
    // server has broken the protocol (errorString() says how).
    virtual bool receive(const QByteArray& bytes, QByteArray& data, QByteArray& replies) = 0;
    // Line data as it goes on the connection.
    virtual QByteArray encode(const QByteArray& data) const = 0;

    // Whether the server refused to serve the line at all.
    virtual bool refused() const = 0;
    // Whether the line is ours now. settled: the connection has stayed open for a while without
    // a refusal; talking: the server has sent line data that is not its in-use notice.
    virtual bool ready(bool settled, bool talking) const = 0;

    // Whether settings asked reach the far line at all.
    virtual bool carriesSettings() const { return true; }
    // Whether settings requests can go out now.
    virtual bool takesSettings() const = 0;
    // The requests for these settings.
    virtual QByteArray settingsRequests(const SerialSettings& settings) = 0;
    // What the server made of the settings asked last.
    virtual Answer answer(const SerialSettings& asked) const = 0;

    virtual QString errorString() const { return {}; }
};
