// TelnetCodec::receive() reads whatever a network port's server sends, which may be anything.
// Input layout as fuzz_wire_decoder: the first byte gives how many piece lengths follow
// (byte % 8; none means one piece) and, with bit 0x08, that the client opened with its requests;
// those bytes give the lengths (byte % 8, used in turn; 0 feeds an empty piece), and the rest is
// what the server sends. The codec must come to the same end however the bytes are cut, never
// pass more data than it was sent, answer only with well formed commands in bounded number,
// take nothing once it has failed, refuse an endless subnegotiation, and still carry any data
// through unchanged afterwards.

#include "fuzz_support.h"
#include "port_bank/lines/telnet_codec.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>

namespace {

using fuzz::check;

constexpr char kIac = char(TelnetCodec::kIac);

struct Outcome {
    QByteArray data;
    QByteArray answers;
    bool sound = true;
};

Outcome feed(TelnetCodec& codec, QByteArrayView lengths, QByteArrayView wire)
{
    Outcome out;
    if (lengths.isEmpty()) {
        out.sound = codec.receive(wire, out.data, out.answers);
        return out;
    }
    qsizetype pos = 0;
    for (qsizetype i = 0; pos < wire.size(); ++i) {
        const qsizetype length = static_cast<std::uint8_t>(lengths[i % lengths.size()]) % 8;
        if (length == 0)
            out.sound = codec.receive(QByteArrayView(), out.data, out.answers) && out.sound;
        const qsizetype take = std::min(std::max<qsizetype>(length, 1), wire.size() - pos);
        out.sound = codec.receive(wire.sliced(pos, take), out.data, out.answers) && out.sound;
        pos += take;
    }
    return out;
}

TelnetCodec freshCodec(bool opened)
{
    TelnetCodec codec;
    if (opened)
        codec.openingRequests();
    return codec;
}

void checkAnswers(const QByteArray& answers, const QString& report)
{
    check(answers.size() % 3 == 0, "an answer is not IAC VERB OPTION", report);
    for (qsizetype i = 0; i + 2 < answers.size(); i += 3) {
        const auto verb = static_cast<unsigned char>(answers[i + 1]);
        check(answers[i] == kIac && verb >= TelnetCodec::kWill && verb <= TelnetCodec::kDont,
              "an answer is not IAC VERB OPTION", report);
    }
    // One refusal per option and direction, and a bounded number of changes, each answered once.
    const qsizetype most = 3 * (2 * 256 + TelnetCodec::kOptionChangeLimit);
    check(answers.size() <= most, "answered without bound", report);
}

// Data sent by the client's encoder reaches the other end unchanged, in or out of BINARY.
void checkRoundTrip(TelnetCodec& codec, QByteArrayView wire, const QString& report)
{
    QByteArray data;
    QByteArray answers;
    check(codec.receive(codec.encodeData(wire.toByteArray()), data, answers),
          "its own data broke it", report);
    check(data == wire, "data did not survive encoding and decoding", report);
    check(answers.isEmpty(), "data drew an answer", report);
}

void checkServer(QByteArrayView lengths, QByteArrayView wire, bool opened)
{
    const QString report = QString::fromLatin1(lengths.toByteArray().toHex(' ') + " | " +
                                               wire.toByteArray().toHex(' '));

    TelnetCodec whole = freshCodec(opened);
    const Outcome all = feed(whole, {}, wire);
    TelnetCodec cut = freshCodec(opened);
    const Outcome pieces = feed(cut, lengths, wire);
    check(all.data == pieces.data, "data depends on where the bytes were cut", report);
    check(all.answers == pieces.answers, "answers depend on where the bytes were cut", report);
    check(all.sound == pieces.sound && whole.errorString() == cut.errorString(),
          "failure depends on where the bytes were cut", report);
    check(whole.comPort() == cut.comPort() && whole.hasComPortAnswer() == cut.hasComPortAnswer() &&
              whole.lineReport().baudRate == cut.lineReport().baudRate &&
              whole.lineReport().dataSize == cut.lineReport().dataSize &&
              whole.lineReport().parity == cut.lineReport().parity &&
              whole.lineReport().stopSize == cut.lineReport().stopSize,
          "the server's reports depend on where the bytes were cut", report);
    check(all.sound == !whole.failed() && (all.sound || !whole.errorString().isEmpty()),
          "failed without saying why", report);

    check(all.data.size() <= wire.size(), "passed on more data than it was sent", report);
    // A data byte 0xFF only comes from a doubled IAC.
    check(all.data.count(kIac) <= wire.count(kIac) / 2, "passed on an undoubled IAC", report);
    if (!wire.contains(kIac)) {
        // No negotiation, so no BINARY: only the NUL after a bare CR goes.
        QByteArray expected = wire.toByteArray();
        expected.replace(QByteArrayView("\r\0", 2), QByteArrayView("\r"));
        check(all.data == expected, "plain data changed on the way in", report);
        check(all.answers.isEmpty(), "answered data", report);
    }
    checkAnswers(all.answers, report);

    if (whole.failed()) {
        QByteArray data;
        QByteArray answers;
        check(!whole.receive(wire, data, answers) && data.isEmpty() && answers.isEmpty(),
              "took bytes after failing", report);
    }

    // A fresh client and one with BINARY agreed both ways carry any data through.
    TelnetCodec plain = freshCodec(opened);
    checkRoundTrip(plain, wire, report);
    TelnetCodec binary = freshCodec(opened);
    QByteArray ignored;
    QByteArray answers;
    binary.receive(QByteArrayView("\xff\xfb\x00\xff\xfd\x00", 6), ignored, answers);
    checkRoundTrip(binary, wire, report);

    // A subnegotiation that never ends must fail instead of growing without bound.
    QByteArray filler = wire.toByteArray();
    filler.replace(kIac, QByteArray());
    if (!filler.isEmpty()) {
        TelnetCodec endless = freshCodec(opened);
        QByteArray data;
        endless.receive(QByteArrayView("\xff\xfa\x2c", 3), data, answers);
        for (qsizetype sent = 0; sent <= TelnetCodec::kSubnegotiationLimit + 1;
             sent += filler.size())
            endless.receive(filler, data, answers);
        check(endless.failed(), "an endless subnegotiation was taken", report);
        check(data.isEmpty(), "a subnegotiation leaked into the data", report);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const bool opened = !input.isEmpty() && (static_cast<std::uint8_t>(input[0]) & 0x08) != 0;
    const fuzz::CutInput cut = fuzz::splitCuts(input);
    checkServer(cut.cuts, cut.data, opened);
    return 0;
}
