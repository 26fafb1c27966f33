#include "port_bank/lines/telnet_codec.h"

#include <cstring>

#include <utility>

namespace {

// COM-PORT-OPTION commands from the client; the server answers with the same number + 100.
constexpr unsigned char kSetBaudRate = 1;
constexpr unsigned char kSetDataSize = 2;
constexpr unsigned char kSetParity = 3;
constexpr unsigned char kSetStopSize = 4;
constexpr unsigned char kServerOffset = 100;

std::uint8_t parityCode(SerialSettings::Parity parity)
{
    switch (parity) {
    case SerialSettings::Parity::Odd:
        return 2;
    case SerialSettings::Parity::Even:
        return 3;
    case SerialSettings::Parity::Mark:
        return 4;
    case SerialSettings::Parity::Space:
        return 5;
    case SerialSettings::Parity::None:
        break;
    }
    return 1;
}

std::uint8_t stopSizeCode(SerialSettings::StopBits stopBits)
{
    switch (stopBits) {
    case SerialSettings::StopBits::Two:
        return 2;
    case SerialSettings::StopBits::OneAndHalf:
        return 3;
    case SerialSettings::StopBits::One:
        break;
    }
    return 1;
}

bool wantedOnOurSide(unsigned char option)
{
    return option == TelnetCodec::kBinary || option == TelnetCodec::kSuppressGoAhead ||
           option == TelnetCodec::kComPort;
}

bool wantedOnTheirSide(unsigned char option)
{
    return option == TelnetCodec::kBinary || option == TelnetCodec::kSuppressGoAhead;
}

void appendCommand(QByteArray& out, unsigned char verb, unsigned char option)
{
    out.append(char(TelnetCodec::kIac));
    out.append(char(verb));
    out.append(char(option));
}

// One COM-PORT-OPTION request; a value byte of 0xFF is doubled inside the subnegotiation too.
void appendComPort(QByteArray& out, unsigned char command, QByteArrayView value)
{
    out.append(char(TelnetCodec::kIac));
    out.append(char(TelnetCodec::kSb));
    out.append(char(TelnetCodec::kComPort));
    out.append(char(command));
    for (char byte : value) {
        out.append(byte);
        if (static_cast<unsigned char>(byte) == TelnetCodec::kIac)
            out.append(byte);
    }
    out.append(char(TelnetCodec::kIac));
    out.append(char(TelnetCodec::kSe));
}

} // namespace

QByteArray TelnetCodec::openingRequests()
{
    QByteArray out;
    for (unsigned char option : {kBinary, kSuppressGoAhead, kComPort}) {
        willAsked_[option] = true;
        appendCommand(out, kWill, option);
    }
    for (unsigned char option : {kBinary, kSuppressGoAhead}) {
        doAsked_[option] = true;
        appendCommand(out, kDo, option);
    }
    return out;
}

QByteArray TelnetCodec::encodeData(const QByteArray& data) const
{
    // Without BINARY a bare CR must travel as CR NUL, or the server may eat the next byte; CR LF
    // travels as it is (RFC 854).
    const bool binary = ours_[kBinary];
    // Commands seldom hold either byte: they then travel as they are, shared, not copied.
    const auto holds = [&data](char byte) {
        return std::memchr(data.constData(), byte, size_t(data.size())) != nullptr;
    };
    if (!holds(char(kIac)) && (binary || !holds('\r')))
        return data;
    QByteArray out;
    out.reserve(data.size() + data.size() / 16 + 4);
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char byte = data[i];
        out.append(byte);
        if (static_cast<unsigned char>(byte) == kIac)
            out.append(byte);
        else if (byte == '\r' && !binary && (i + 1 == data.size() || data[i + 1] != '\n'))
            out.append('\0');
    }
    return out;
}

QByteArray TelnetCodec::settingsRequests(const SerialSettings& settings)
{
    report_ = LineReport();
    comPortAnswers_ = 0;
    const auto baud = static_cast<std::uint32_t>(settings.baudRate);
    const char baudBytes[4] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    const char dataSize = char(settings.dataBits);
    const char parity = char(parityCode(settings.parity));
    const char stopSize = char(stopSizeCode(settings.stopBits));
    QByteArray out;
    appendComPort(out, kSetBaudRate, QByteArrayView(baudBytes, 4));
    appendComPort(out, kSetDataSize, QByteArrayView(&dataSize, 1));
    appendComPort(out, kSetParity, QByteArrayView(&parity, 1));
    appendComPort(out, kSetStopSize, QByteArrayView(&stopSize, 1));
    return out;
}

bool TelnetCodec::receive(QByteArrayView bytes, QByteArray& data, QByteArray& answers)
{
    for (char signedByte : bytes) {
        if (failed())
            return false;
        const auto byte = static_cast<unsigned char>(signedByte);
        switch (state_) {
        case State::Data:
            if (byte == kIac) {
                state_ = State::Iac;
            } else if (byte == 0 && lastWasCr_ && !theirs_[kBinary]) {
                lastWasCr_ = false; // CR NUL is a bare CR outside BINARY
            } else {
                data.append(signedByte);
                lastWasCr_ = byte == '\r';
            }
            break;
        case State::Iac:
            lastWasCr_ = false;
            if (byte == kIac) {
                data.append(signedByte);
                state_ = State::Data;
            } else if (byte >= kWill && byte <= kDont) {
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == kSb) {
                state_ = State::SubOption;
            } else {
                state_ = State::Data; // NOP, GA, DM, AYT...: nothing to do for a serial line
            }
            break;
        case State::Verb:
            onVerb(verb_, byte, answers);
            state_ = State::Data;
            break;
        case State::SubOption:
            subOption_ = byte;
            sub_.clear();
            state_ = State::Sub;
            break;
        case State::Sub:
            if (byte == kIac)
                state_ = State::SubIac;
            else
                sub_.append(signedByte);
            break;
        case State::SubIac:
            if (byte == kSe) {
                onSubnegotiation();
                state_ = State::Data;
            } else if (byte == kIac) {
                sub_.append(signedByte);
                state_ = State::Sub;
            } else if (byte >= kWill && byte <= kDont) {
                // An unfinished subnegotiation: drop it and take the command as it stands.
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == kSb) {
                state_ = State::SubOption;
            } else {
                state_ = State::Data;
            }
            break;
        }
        if (sub_.size() > kSubnegotiationLimit) {
            fail(QStringLiteral("the server sent a subnegotiation longer than %1 bytes")
                     .arg(kSubnegotiationLimit));
            sub_.clear();
        }
    }
    return !failed();
}

void TelnetCodec::onVerb(unsigned char verb, unsigned char option, QByteArray& answers)
{
    switch (verb) {
    case kDo:
        if (!wantedOnOurSide(option)) {
            if (!std::exchange(refusedDo_[option], true))
                appendCommand(answers, kWont, option);
        } else if (!ours_[option] && countChange()) {
            ours_[option] = true;
            if (!std::exchange(willAsked_[option], false))
                appendCommand(answers, kWill, option);
            if (option == kComPort)
                comPort_ = ComPort::Accepted;
        }
        break;
    case kDont:
        if (ours_[option] && countChange()) {
            ours_[option] = false;
            appendCommand(answers, kWont, option);
        }
        willAsked_[option] = false;
        if (option == kComPort)
            comPort_ = ComPort::Refused;
        break;
    case kWill:
        if (!wantedOnTheirSide(option)) {
            if (!std::exchange(refusedWill_[option], true))
                appendCommand(answers, kDont, option);
        } else if (!theirs_[option] && countChange()) {
            theirs_[option] = true;
            if (!std::exchange(doAsked_[option], false))
                appendCommand(answers, kDo, option);
        }
        break;
    case kWont:
        if (theirs_[option] && countChange()) {
            theirs_[option] = false;
            appendCommand(answers, kDont, option);
        }
        doAsked_[option] = false;
        break;
    default:
        break;
    }
}

void TelnetCodec::onSubnegotiation()
{
    if (subOption_ != kComPort || sub_.isEmpty())
        return;
    const auto code = static_cast<unsigned char>(sub_[0]);
    const auto valueAt = [this](qsizetype i) { return static_cast<std::uint8_t>(sub_[i]); };
    switch (code) {
    case kServerOffset + kSetBaudRate:
        if (sub_.size() < 5)
            return;
        report_.baudRate = std::uint32_t(valueAt(1)) << 24 | std::uint32_t(valueAt(2)) << 16 |
                           std::uint32_t(valueAt(3)) << 8 | std::uint32_t(valueAt(4));
        break;
    case kServerOffset + kSetDataSize:
        if (sub_.size() < 2)
            return;
        report_.dataSize = valueAt(1);
        break;
    case kServerOffset + kSetParity:
        if (sub_.size() < 2)
            return;
        report_.parity = valueAt(1);
        break;
    case kServerOffset + kSetStopSize:
        if (sub_.size() < 2)
            return;
        report_.stopSize = valueAt(1);
        break;
    default:
        return; // line and modem state notices, signature: nothing this program shows
    }
    ++comPortAnswers_;
}

bool TelnetCodec::countChange()
{
    if (++optionChanges_ <= kOptionChangeLimit)
        return true;
    fail(QStringLiteral("the server changed its options more than %1 times")
             .arg(kOptionChangeLimit));
    return false;
}

void TelnetCodec::fail(const QString& why)
{
    if (error_.isEmpty())
        error_ = why;
}

TelnetCodec::SettingsAnswer TelnetCodec::judge(const SerialSettings& asked,
                                               const LineReport& report)
{
    bool waiting = false;
    bool refused = false;
    const auto check = [&](const auto& reported, auto... accepted) {
        if (!reported)
            waiting = true;
        else if (((*reported != accepted) && ...))
            refused = true;
    };
    check(report.baudRate, static_cast<std::uint32_t>(asked.baudRate));
    check(report.dataSize, static_cast<std::uint8_t>(asked.dataBits));
    check(report.parity, parityCode(asked.parity));
    if (asked.stopBits == SerialSettings::StopBits::OneAndHalf)
        check(report.stopSize, std::uint8_t(3), std::uint8_t(2)); // termios has no 1.5: two
    else
        check(report.stopSize, stopSizeCode(asked.stopBits));
    if (refused)
        return SettingsAnswer::Refused;
    return waiting ? SettingsAnswer::Waiting : SettingsAnswer::Confirmed;
}
