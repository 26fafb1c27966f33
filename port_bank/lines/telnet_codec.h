#pragma once

#include "port_bank/lines/serial_settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The client side of a Telnet connection to a serial line served with COM-PORT-OPTION
// (RFC 2217), as plain byte work: data out with 0xFF doubled, data in with negotiation taken
// out, the option negotiation (BINARY and SUPPRESS-GO-AHEAD both ways, COM-PORT-OPTION from us)
// and the server's answers to the line settings. No socket here: the caller moves the bytes.
class TelnetCodec {
public:
    // Telnet commands and options used here.
    static constexpr unsigned char kIac = 255;
    static constexpr unsigned char kDont = 254;
    static constexpr unsigned char kDo = 253;
    static constexpr unsigned char kWont = 252;
    static constexpr unsigned char kWill = 251;
    static constexpr unsigned char kSb = 250;
    static constexpr unsigned char kSe = 240;
    static constexpr unsigned char kBinary = 0;
    static constexpr unsigned char kSuppressGoAhead = 3;
    static constexpr unsigned char kComPort = 44;

    // The longest subnegotiation accepted; a COM-PORT-OPTION answer is a few bytes, a signature
    // a line of text. A server that goes on past this is broken or hostile.
    static constexpr qsizetype kSubnegotiationLimit = 256;
    // Option changes accepted per connection; a server that flips options back and forth
    // without end would otherwise keep us answering.
    static constexpr int kOptionChangeLimit = 64;

    enum class ComPort { Asked, Accepted, Refused };

    // What the server last reported for each line setting (its answers to our requests).
    struct LineReport {
        std::optional<std::uint32_t> baudRate;
        std::optional<std::uint8_t> dataSize;
        std::optional<std::uint8_t> parity;
        std::optional<std::uint8_t> stopSize;
    };
    enum class SettingsAnswer { Waiting, Confirmed, Refused };

    // The requests a client opens with: WILL and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD,
    // WILL COM-PORT-OPTION.
    QByteArray openingRequests();

    // Data for the line, as it goes on the connection.
    QByteArray encodeData(const QByteArray& data) const;

    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE for these settings. Forgets what
    // the server reported before, so that judge() weighs the answers to these requests.
    QByteArray settingsRequests(const SerialSettings& settings);

    // Bytes from the server. Line data is appended to data, our answers to the negotiation to
    // answers (to be sent back). Returns false once the server has broken the protocol
    // (errorString() says how); nothing more is taken after that.
    bool receive(QByteArrayView bytes, QByteArray& data, QByteArray& answers);

    ComPort comPort() const { return comPort_; }
    // Whether any COM-PORT-OPTION answer has come since the last settingsRequests().
    bool hasComPortAnswer() const { return comPortAnswers_ > 0; }
    const LineReport& lineReport() const { return report_; }
    bool failed() const { return !error_.isEmpty(); }
    QString errorString() const { return error_; }

    // Whether the server's answers so far confirm the settings asked for.
    static SettingsAnswer judge(const SerialSettings& asked, const LineReport& report);

private:
    enum class State { Data, Iac, Verb, SubOption, Sub, SubIac };

    void onVerb(unsigned char verb, unsigned char option, QByteArray& answers);
    void onSubnegotiation();
    bool countChange();
    void fail(const QString& why);

    State state_ = State::Data;
    unsigned char verb_ = 0;
    unsigned char subOption_ = 0;
    QByteArray sub_;
    bool lastWasCr_ = false;

    // Per option: enabled on our side (we WILL, they said DO), on theirs (they WILL, we said DO),
    // our requests still unanswered, and refusals already sent.
    std::array<bool, 256> ours_{};
    std::array<bool, 256> theirs_{};
    std::array<bool, 256> willAsked_{};
    std::array<bool, 256> doAsked_{};
    std::array<bool, 256> refusedDo_{};
    std::array<bool, 256> refusedWill_{};
    int optionChanges_ = 0;

    ComPort comPort_ = ComPort::Asked;
    int comPortAnswers_ = 0;
    LineReport report_;
    QString error_;
};
