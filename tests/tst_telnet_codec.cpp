// The Telnet side of a network port, byte for byte: data both ways, the option negotiation as
// ser2net runs it, the line settings and the server's answers, and servers that misbehave.
#include "port_bank/lines/serial_settings.h"
#include "port_bank/lines/telnet_codec.h"

#include <QTest>
#include <initializer_list>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

// What ser2net 4.3.11 sends first on a telnet(rfc2217) accepter: WILL SGA, DO SGA, WILL ECHO,
// DONT ECHO, DO BINARY, WILL BINARY, DO COM-PORT-OPTION.
const QByteArray kSer2netGreeting = bytes(
    {255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44});

struct Fed {
    QByteArray data;
    QByteArray answers;
    bool sound = true;
};

// Feeds the input in pieces of `piece` bytes, as the network may cut it anywhere.
Fed feed(TelnetCodec& codec, const QByteArray& input, qsizetype piece = 1 << 20)
{
    Fed fed;
    for (qsizetype at = 0; at < input.size(); at += piece)
        fed.sound = codec.receive(input.mid(at, piece), fed.data, fed.answers) && fed.sound;
    return fed;
}

// A codec past the opening exchange with ser2net.
TelnetCodec agreedCodec()
{
    TelnetCodec codec;
    codec.openingRequests();
    feed(codec, kSer2netGreeting);
    return codec;
}

SerialSettings settingsOf(const char* text)
{
    return *parseSerialSettings(QString::fromLatin1(text));
}

} // namespace

class TestTelnetCodec : public QObject {
    Q_OBJECT
private slots:
    void dataOutDoublesIacOnly();
    void dataInUndoublesIacWhereverCut();
    void negotiationNeverReachesData();
    void negotiationWithSer2net();
    void unwantedOptionsAreRefusedOnce();
    void comPortRefused();
    void bareCrOutsideBinary();
    void settingsRequestsOnTheWire();
    void serverAnswersJudged();
    void hostileServers();
};

void TestTelnetCodec::dataOutDoublesIacOnly()
{
    TelnetCodec codec = agreedCodec();
    QCOMPARE(codec.encodeData(bytes({0xff})), bytes({0xff, 0xff}));
    QCOMPARE(codec.encodeData(bytes({'a', 0xff, 0xff, 'b', 0xfe, 0xfa, 0xf0})),
             bytes({'a', 0xff, 0xff, 0xff, 0xff, 'b', 0xfe, 0xfa, 0xf0}));
    // GB18030 text and line ends pass as they are once BINARY is agreed.
    QCOMPARE(codec.encodeData(QByteArray("\xc8\xab\xb2\xbf:::ZAVB5.\r\n\r\0", 17)),
             QByteArray("\xc8\xab\xb2\xbf:::ZAVB5.\r\n\r\0", 17));
    QCOMPARE(codec.encodeData(QByteArray()), QByteArray());
}

void TestTelnetCodec::dataInUndoublesIacWhereverCut()
{
    const QByteArray input = bytes({'O', 0xff, 0xff, 'K', 0xff, 0xff, 0xff, 0xff, '\r', '\n'});
    const QByteArray expected = bytes({'O', 0xff, 'K', 0xff, 0xff, '\r', '\n'});
    for (qsizetype piece = 1; piece <= input.size(); ++piece) {
        TelnetCodec codec = agreedCodec();
        const Fed fed = feed(codec, input, piece);
        QCOMPARE(fed.data, expected);
        QVERIFY(fed.answers.isEmpty());
    }
}

void TestTelnetCodec::negotiationNeverReachesData()
{
    // Data interleaved with every kind of Telnet command, a subnegotiation with a doubled
    // IAC inside, and commands with no meaning here (NOP, GA, DM, AYT).
    const QByteArray input = kSer2netGreeting + "ab" + bytes({255, 241, 255, 249}) + "c" +
                             bytes({255, 250, 44, 107, 255, 255, 255, 240}) + "d" +
                             bytes({255, 242, 255, 246, 255, 251, 0}) + "e";
    for (qsizetype piece = 1; piece <= 7; ++piece) {
        TelnetCodec codec;
        codec.openingRequests();
        const Fed fed = feed(codec, input, piece);
        QVERIFY(fed.sound);
        QCOMPARE(fed.data, QByteArray("abcde"));
    }
}

void TestTelnetCodec::negotiationWithSer2net()
{
    TelnetCodec codec;
    // WILL BINARY, WILL SGA, WILL COM-PORT-OPTION, DO BINARY, DO SGA.
    QCOMPARE(codec.openingRequests(),
             bytes({255, 251, 0, 255, 251, 3, 255, 251, 44, 255, 253, 0, 255, 253, 3}));
    QCOMPARE(codec.comPort(), TelnetCodec::ComPort::Asked);
    const Fed fed = feed(codec, kSer2netGreeting);
    QVERIFY(fed.sound);
    QVERIFY(fed.data.isEmpty());
    // What we asked for needs no answer; only its ECHO is declined.
    QCOMPARE(fed.answers, bytes({255, 254, 1}));
    QCOMPARE(codec.comPort(), TelnetCodec::ComPort::Accepted);

    // The same server, asked again, is not answered again: no negotiation loop.
    const Fed again = feed(codec, kSer2netGreeting);
    QVERIFY(again.answers.isEmpty());

    // A server that asks first (DO before our WILL) is answered with WILL.
    TelnetCodec quiet;
    QCOMPARE(feed(quiet, bytes({255, 253, 44, 255, 251, 0})).answers,
             bytes({255, 251, 44, 255, 253, 0}));
    QCOMPARE(quiet.comPort(), TelnetCodec::ComPort::Accepted);

    // An option switched off by the server is acknowledged once.
    TelnetCodec agreed = agreedCodec();
    QCOMPARE(feed(agreed, bytes({255, 252, 0, 255, 252, 0})).answers, bytes({255, 254, 0}));
}

void TestTelnetCodec::unwantedOptionsAreRefusedOnce()
{
    TelnetCodec codec = agreedCodec();
    // DO TERMINAL-TYPE, WILL STATUS, DO NAWS: WONT, DONT, WONT; asked again: silence.
    const QByteArray asks = bytes({255, 253, 24, 255, 251, 5, 255, 253, 31});
    QCOMPARE(feed(codec, asks).answers, bytes({255, 252, 24, 255, 254, 5, 255, 252, 31}));
    QVERIFY(feed(codec, asks.repeated(100)).answers.isEmpty());
}

void TestTelnetCodec::comPortRefused()
{
    TelnetCodec codec;
    codec.openingRequests();
    const Fed fed = feed(codec, bytes({255, 254, 44}));
    QVERIFY(fed.sound);
    QVERIFY(fed.answers.isEmpty()); // a refusal of our own request needs no answer
    QCOMPARE(codec.comPort(), TelnetCodec::ComPort::Refused);

    TelnetCodec later = agreedCodec();
    QCOMPARE(feed(later, bytes({255, 254, 44})).answers, bytes({255, 252, 44}));
    QCOMPARE(later.comPort(), TelnetCodec::ComPort::Refused);
}

void TestTelnetCodec::bareCrOutsideBinary()
{
    TelnetCodec codec;
    codec.openingRequests();
    // The server refuses BINARY both ways: a bare CR travels as CR NUL and comes back so; CR LF
    // stays CR LF.
    feed(codec, bytes({255, 254, 0, 255, 252, 0}));
    QCOMPARE(codec.encodeData("a\rb\r\nc\r"), QByteArray("a\r\0b\r\nc\r\0", 9));
    QCOMPARE(feed(codec, QByteArray("a\r\0b\r\nc\0", 8), 1).data, QByteArray("a\rb\r\nc\0", 7));
}

void TestTelnetCodec::settingsRequestsOnTheWire()
{
    TelnetCodec codec = agreedCodec();
    QCOMPARE(codec.settingsRequests(settingsOf("9600,e,7,2")),
             bytes({255, 250, 44, 1, 0, 0,   0x25, 0x80, 255, 240, // SET-BAUDRATE 9600
                    255, 250, 44, 2, 7, 255, 240,                  // SET-DATASIZE 7
                    255, 250, 44, 3, 3, 255, 240,                  // SET-PARITY EVEN
                    255, 250, 44, 4, 2, 255, 240}));               // SET-STOPSIZE 2
    QCOMPARE(codec.settingsRequests(settingsOf("115200,o,8,1.5")).mid(0, 10),
             bytes({255, 250, 44, 1, 0, 1, 0xc2, 0x00, 255, 240}));
    QCOMPARE(codec.settingsRequests(settingsOf("115200,o,8,1.5")).mid(17, 14),
             bytes({255, 250, 44, 3, 2, 255, 240, 255, 250, 44, 4, 3, 255, 240}));
    QCOMPARE(codec.settingsRequests(settingsOf("300,m,5,1")).mid(17, 7),
             bytes({255, 250, 44, 3, 4, 255, 240}));
    QCOMPARE(codec.settingsRequests(settingsOf("300,s,5,1")).mid(17, 7),
             bytes({255, 250, 44, 3, 5, 255, 240}));
    // A value byte of 0xFF is doubled inside the subnegotiation.
    QCOMPARE(codec.settingsRequests(settingsOf("255,n,8,1")).mid(0, 11),
             bytes({255, 250, 44, 1, 0, 0, 0, 255, 255, 255, 240}));
}

void TestTelnetCodec::serverAnswersJudged()
{
    const SerialSettings asked = settingsOf("19200,n,8,1");
    TelnetCodec codec = agreedCodec();
    codec.settingsRequests(asked);
    QVERIFY(!codec.hasComPortAnswer());
    // A modem-state notice is not an answer to the settings.
    feed(codec, bytes({255, 250, 44, 107, 0, 255, 240}));
    QVERIFY(!codec.hasComPortAnswer());
    // The answers as ser2net sends them, cut anywhere.
    const QByteArray answers = bytes({255, 250, 44, 101, 0,   0,   0x4b, 0,  255, 240, 255, 250,
                                      44,  102, 8,  255, 240, 255, 250,  44, 103, 1,   255, 240});
    const Fed fed = feed(codec, answers, 3);
    QVERIFY(fed.data.isEmpty() && fed.answers.isEmpty());
    QVERIFY(codec.hasComPortAnswer());
    QCOMPARE(*codec.lineReport().baudRate, 19200u);
    QCOMPARE(TelnetCodec::judge(asked, codec.lineReport()), TelnetCodec::SettingsAnswer::Waiting);
    feed(codec, bytes({255, 250, 44, 104, 1, 255, 240}));
    QCOMPARE(TelnetCodec::judge(asked, codec.lineReport()), TelnetCodec::SettingsAnswer::Confirmed);

    // A server that sets another speed than asked has refused the settings, even before the
    // rest of its answers.
    codec.settingsRequests(asked);
    feed(codec, bytes({255, 250, 44, 101, 0, 0, 0x25, 0x80, 255, 240}));
    QCOMPARE(TelnetCodec::judge(asked, codec.lineReport()), TelnetCodec::SettingsAnswer::Refused);

    // 1.5 stop bits: a line that has none sets two, as a local port does.
    TelnetCodec::LineReport report;
    report.baudRate = 9600;
    report.dataSize = 5;
    report.parity = 1;
    report.stopSize = 2;
    QCOMPARE(TelnetCodec::judge(settingsOf("9600,n,5,1.5"), report),
             TelnetCodec::SettingsAnswer::Confirmed);
    report.stopSize = 1;
    QCOMPARE(TelnetCodec::judge(settingsOf("9600,n,5,1.5"), report),
             TelnetCodec::SettingsAnswer::Refused);
    report.stopSize = 3;
    QCOMPARE(TelnetCodec::judge(settingsOf("9600,n,5,2"), report),
             TelnetCodec::SettingsAnswer::Refused);
}

void TestTelnetCodec::hostileServers()
{
    // A subnegotiation up to the bound is fine; one byte more and the server is cut off,
    // and none of it ever shows as data.
    TelnetCodec fits = agreedCodec();
    Fed fed =
        feed(fits, bytes({255, 250, 44}) + QByteArray(TelnetCodec::kSubnegotiationLimit, 'x') +
                       bytes({255, 240}) + "ok");
    QVERIFY(fed.sound);
    QCOMPARE(fed.data, QByteArray("ok"));

    TelnetCodec endless = agreedCodec();
    fed = feed(endless, bytes({255, 250, 44}) + QByteArray(100000, 'x'), 1000);
    QVERIFY(!fed.sound);
    QVERIFY(endless.failed());
    QVERIFY(fed.data.isEmpty());
    QVERIFY(!endless.receive("more", fed.data, fed.answers));
    QVERIFY(fed.data.isEmpty());

    // Doubled IACs count towards the bound as the bytes they stand for.
    TelnetCodec doubled = agreedCodec();
    QVERIFY(!feed(doubled, bytes({255, 250, 44}) + QByteArray(2 * 300, char(255))).sound);

    // A server flipping an option back and forth is answered a bounded number of times.
    TelnetCodec flipping = agreedCodec();
    fed = feed(flipping, bytes({255, 254, 0, 255, 253, 0}).repeated(1000));
    QVERIFY(!fed.sound);
    QVERIFY(fed.answers.size() <= 3 * (TelnetCodec::kOptionChangeLimit + 1));

    // An unfinished subnegotiation cut off by a command: the command counts, the bytes do not.
    TelnetCodec cut = agreedCodec();
    fed = feed(cut, bytes({255, 250, 44, 'x', 'y', 255, 253, 24}) + "z");
    QVERIFY(fed.sound);
    QCOMPARE(fed.data, QByteArray("z"));
    QCOMPARE(fed.answers, bytes({255, 252, 24}));
    // ...or by a new subnegotiation, which counts on its own.
    TelnetCodec restarted = agreedCodec();
    restarted.settingsRequests(settingsOf("9600,n,8,1"));
    fed = feed(restarted,
               bytes({255, 250, 44, 'x', 255, 250, 44, 101, 0, 0, 0x25, 0x80, 255, 240}) + "z");
    QVERIFY(fed.sound);
    QCOMPARE(fed.data, QByteArray("z"));
    QCOMPARE(*restarted.lineReport().baudRate, 9600u);

    // Garbage of every byte value neither crashes nor loses the data after it.
    TelnetCodec garbage = agreedCodec();
    QByteArray noise;
    for (int i = 0; i < 4096; ++i)
        noise.append(char((i * 7919) % 251)); // no IAC, SB or SE among them
    fed = feed(garbage, noise + bytes({255, 255}), 97);
    QVERIFY(fed.sound);
    QCOMPARE(fed.data, noise + bytes({255}));
}

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "tst_telnet_codec.moc"
