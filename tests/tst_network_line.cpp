// A serial line served over the network, against a real ser2net serving ptys and against fake
// servers of our own that misbehave in the ways a network can: options refused, negotiation
// never finished, garbage, a connect that never completes, floods, the line in use.
#include "port_bank/lines/network_address.h"
#include "port_bank/lines/network_line.h"
#include "port_bank/lines/serial_settings.h"
#include "pty_peer.h"
#include "ser2net_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

QByteArray everyByte(int times = 1)
{
    QByteArray out;
    for (int t = 0; t < times; ++t)
        for (int i = 0; i < 256; ++i)
            out.append(char(i));
    return out;
}

SerialSettings settingsOf(const char* text)
{
    return *parseSerialSettings(QString::fromLatin1(text));
}

NetworkAddress addressOf(const QString& device)
{
    return *NetworkAddress::parse(device);
}

// Everything a line delivers, in order: its data and its answers to the settings asked.
struct Collected {
    explicit Collected(NetworkLine& line)
    {
        QObject::connect(&line, &NetworkLine::dataArrived, &line,
                         [this](const QByteArray& chunk) { data += chunk; });
        QObject::connect(&line, &SerialLine::settingsAnswered, &line,
                         [this](bool accepted) { answers.append(accepted); });
    }
    QByteArray data;
    QList<bool> answers; // true: accepted
};

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A server of our own: one client at a time, scripted by the test.
class FakeServer : public QObject {
public:
    FakeServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this, [this] {
                const QByteArray chunk = client->readAll();
                received += chunk;
                everything += chunk;
                if (onRead)
                    onRead(*client);
            });
            if (onConnect)
                onConnect(*client);
        });
    }
    QString url(const char* scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.serverPort());
    }

    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray received;   // what the script has not taken yet
    QByteArray everything; // all of it, in order
    std::function<void(QTcpSocket&)> onConnect;
    std::function<void(QTcpSocket&)> onRead;
};

// What ser2net says on a telnet(rfc2217) accepter, then its answers to the line settings as
// asked (or, with answerWith, as the server chose instead).
void playComPortServer(FakeServer& fake, std::optional<quint32> answerBaud = std::nullopt)
{
    fake.onConnect = [](QTcpSocket& client) {
        client.write(bytes({255, 251, 3, 255, 253, 3, 255, 251, 0, 255, 253, 0, 255, 253, 44}));
    };
    fake.onRead = [&fake, answerBaud](QTcpSocket& client) {
        // Answer each SET-* once it has arrived whole: same command + 100, same value.
        for (;;) {
            const qsizetype at = fake.received.indexOf(bytes({255, 250, 44}));
            const qsizetype end = fake.received.indexOf(bytes({255, 240}), at);
            if (at < 0 || end < 0)
                return;
            QByteArray request = fake.received.mid(at + 3, end - at - 3);
            fake.received.remove(at, end + 2 - at);
            request[0] = char(request[0] + 100);
            if (answerBaud && request[0] == char(101))
                request = bytes({101, int(*answerBaud >> 24), int(*answerBaud >> 16 & 255),
                                 int(*answerBaud >> 8 & 255), int(*answerBaud & 255)});
            client.write(bytes({255, 250, 44}) + request + bytes({255, 240}));
        }
    };
}

} // namespace

class TestNetworkLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    // Against ser2net.
    void ser2netRfc2217LineByteExact();
    void ser2netSettingsReachTheFarLine();
    void ser2netRawTcpUntouched();
    void ser2netLineInUse();
    void ser2netStoppedAndBack();

    // Against servers of our own.
    void optionRefused();
    void negotiationNeverFinished();
    void settingsRefusedOrUnanswered();
    void commandsOfOneTurnKeepTheirPlace();
    void rawRefusalNoticeOrData();
    void garbageAndEndlessSubnegotiation();
    void connectNeverCompletes();
    void nothingListensOrNoSuchHost();
    void flood();
};

void TestNetworkLine::initTestCase()
{
    if (!Ser2netServer::isInstalled())
        QFAIL("ser2net is not installed (the test packages bring it)");
}

void TestNetworkLine::ser2netRfc2217LineByteExact()
{
    PtyPeer far;
    QVERIFY(far.isValid());
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217);
    QVERIFY(ser2net.start());

    NetworkLine link(addressOf(url));
    Collected in(link);
    QSignalSpy up(&link, &NetworkLine::up);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QCOMPARE(link.state(), NetworkLine::State::Connecting); // nothing waited for
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QCOMPARE(up.count(), 1);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Connected);
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, QList<bool>{true}, 10000);

    // Every byte value out, 0xFF among them, arrives on the far line as it was.
    QCOMPARE(link.write(everyByte(4)), 0);
    QCOMPARE(far.readExactly(1024, 10000), everyByte(4));
    // And back: no negotiation byte and no doubled 0xFF in what the port is given.
    QVERIFY(far.write(everyByte(4) + "OK\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(in.data.size(), 1028, 10000);
    QCOMPARE(in.data, everyByte(4) + "OK\r\n");
    QVERIFY(!link.connectToLine(settingsOf("115200,n,8,1"))); // up: no second connection
    QCOMPARE(link.attempts(), 1);
}

void TestNetworkLine::ser2netSettingsReachTheFarLine()
{
    PtyPeer far;
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217);
    QVERIFY(ser2net.start());

    NetworkLine link(addressOf(url));
    Collected in(link);
    QVERIFY(link.connectToLine(settingsOf("19200,e,7,2")));
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, QList<bool>{true}, 10000);
    // A pty keeps 8 data bits and no parity whatever it is told; speed and stop bits it keeps.
    std::optional<termios> line = far.slaveSettings();
    QVERIFY(line);
    QCOMPARE(cfgetospeed(&*line), speed_t(B19200));
    QCOMPARE(line->c_cflag & CSTOPB, tcflag_t(CSTOPB));

    // A change while up reaches the far line at once.
    link.applySettings(settingsOf("57600,o,8,1"));
    QTRY_COMPARE_WITH_TIMEOUT(far.slaveSpeed(), int(B57600), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, (QList<bool>{true, true}), 10000);
    line = far.slaveSettings();
    QCOMPARE(line->c_cflag & CSTOPB, tcflag_t(0));
}

void TestNetworkLine::ser2netRawTcpUntouched()
{
    PtyPeer far;
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::RawTcp);
    QVERIFY(ser2net.start());

    NetworkLine link(addressOf(url));
    Collected in(link);
    QVERIFY(link.connectToLine(settingsOf("19200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QCOMPARE(link.write(everyByte(2)), 0);
    QCOMPARE(far.readExactly(512, 10000), everyByte(2));
    QVERIFY(far.write(everyByte(2)));
    QTRY_COMPARE_WITH_TIMEOUT(in.data, everyByte(2), 10000);
    // Raw TCP carries no settings: every text is taken at once, and the line keeps what
    // ser2net was told.
    link.applySettings(settingsOf("57600,n,8,1"));
    QCOMPARE(in.answers, (QList<bool>{true, true}));
    QCOMPARE(far.slaveSpeed(), int(B9600));
}

void TestNetworkLine::ser2netLineInUse()
{
    PtyPeer far;
    Ser2netServer ser2net;
    const QString rfc2217 = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217);
    const QString raw = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::RawTcp);
    QVERIFY(ser2net.start());

    NetworkLine holder(addressOf(rfc2217));
    QVERIFY(holder.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(holder.isUp(), 10000);

    // The same accepter ("Port already in use") and the same device on another accepter
    // ("Port's device already in use"): in use, never up, and nothing of the notice as data.
    for (const QString& url : {rfc2217, raw}) {
        NetworkLine second(addressOf(url));
        Collected in(second);
        QSignalSpy up(&second, &NetworkLine::up);
        QVERIFY(second.connectToLine(settingsOf("115200,n,8,1")));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), NetworkLine::State::Idle, 10000);
        QCOMPARE(second.outcome(), NetworkLine::Outcome::InUse);
        QCOMPARE(up.count(), 0);
        QVERIFY(in.data.isEmpty());
    }
    QVERIFY(holder.isUp());

    // Raw TCP held: a second raw client is told so too.
    // (ser2net lets the device go a moment after the first client has gone.)
    holder.close();
    NetworkLine rawHolder(addressOf(raw));
    QTRY_VERIFY_WITH_TIMEOUT(
        (rawHolder.connectToLine(settingsOf("115200,n,8,1")), rawHolder.isUp()), 10000);
    NetworkLine second(addressOf(raw));
    QVERIFY(second.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), NetworkLine::State::Idle, 10000);
    QCOMPARE(second.outcome(), NetworkLine::Outcome::InUse);
}

void TestNetworkLine::ser2netStoppedAndBack()
{
    PtyPeer far;
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217);
    QVERIFY(ser2net.start());

    NetworkLine link(addressOf(url));
    QSignalSpy lost(&link, &NetworkLine::lost);
    // Retried as an opening pass would, but far more often than once a second.
    QTimer passes;
    QObject::connect(&passes, &QTimer::timeout, &link,
                     [&link] { link.connectToLine(settingsOf("115200,n,8,1")); });
    passes.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);

    ser2net.stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!link.isUp());
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Lost);

    // Nothing listens now: refused, not more than one attempt a second, and no busy loop.
    const int attemptsBefore = link.attempts();
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(3000);
    const double cpu = processCpuSeconds() - cpuBefore;
    const qint64 elapsedMs = wall.elapsed();
    QVERIFY2(link.attempts() - attemptsBefore <= elapsedMs / NetworkLine::kRetryMs + 1,
             qPrintable(QString::number(link.attempts() - attemptsBefore)));
    QVERIFY(link.attempts() - attemptsBefore >= 1);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Unreachable);
    QVERIFY2(cpu < 0.5 * double(elapsedMs) / 1000, qPrintable(QString::number(cpu)));

    QVERIFY(ser2net.start());
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Connected);
    QCOMPARE(link.write("back"), 0);
    QCOMPARE(far.readExactly(4, 10000), QByteArray("back"));
}

void TestNetworkLine::optionRefused()
{
    FakeServer fake;
    fake.onConnect = [](QTcpSocket& client) { client.write(bytes({255, 254, 44})); };
    NetworkLine link(addressOf(fake.url("rfc2217")));
    QSignalSpy failed(&link, &NetworkLine::attemptFailed);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Failed);
    QVERIFY(!link.isUp());
    QVERIFY2(link.errorString().contains("COM-PORT-OPTION"), qPrintable(link.errorString()));
}

void TestNetworkLine::negotiationNeverFinished()
{
    // Accepts, never says a word, never reads: a half-open server.
    FakeServer fake;
    NetworkLine link(addressOf(fake.url("rfc2217")));
    QSignalSpy failed(&link, &NetworkLine::attemptFailed);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(link.state(), NetworkLine::State::Negotiating, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Failed);
    QVERIFY(!link.isUp());

    // Agrees the option but never answers a setting: the line comes up, its settings refused.
    FakeServer mute;
    mute.onConnect = [](QTcpSocket& client) { client.write(bytes({255, 253, 44})); };
    NetworkLine second(addressOf(mute.url("rfc2217")));
    Collected in(second);
    QVERIFY(second.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(second.isUp(), 10000);
    QCOMPARE(in.answers, QList<bool>());
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, QList<bool>{false}, 20000);
}

void TestNetworkLine::settingsRefusedOrUnanswered()
{
    // The server sets another speed than the one asked: the line is up, the settings refused;
    // asking again for what it can do is confirmed.
    FakeServer fake;
    playComPortServer(fake, 9600);
    NetworkLine link(addressOf(fake.url("rfc2217")));
    Collected in(link);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, QList<bool>{false}, 10000);
    link.applySettings(settingsOf("9600,n,8,1"));
    QCOMPARE(in.answers, QList<bool>{false}); // the far line answers later
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, (QList<bool>{false, true}), 10000);
}

void TestNetworkLine::commandsOfOneTurnKeepTheirPlace()
{
    // Commands written within one turn of the event loop go out together, later: ahead of a
    // setting asked after them, and sent by a close.
    FakeServer fake;
    playComPortServer(fake);
    NetworkLine link(addressOf(fake.url("rfc2217")));
    Collected in(link);
    QVERIFY(link.connectToLine(settingsOf("9600,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(link.isUp(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(in.answers, QList<bool>{true}, 10000);

    const QByteArray setBaud19200 = bytes({255, 250, 44, 1, 0, 0, 0x4B, 0x00, 255, 240});
    QCOMPARE(link.write("A1."), 0);
    QCOMPARE(link.write("B2."), 0);
    link.applySettings(settingsOf("19200,n,8,1"));
    QTRY_VERIFY_WITH_TIMEOUT(fake.everything.contains(setBaud19200), 10000);
    const qsizetype commands = fake.everything.indexOf("A1.B2.");
    QVERIFY(commands >= 0);
    QVERIFY(commands < fake.everything.indexOf(setBaud19200));

    QCOMPARE(link.write("C3."), 0);
    link.close();
    QTRY_VERIFY_WITH_TIMEOUT(fake.everything.endsWith("C3."), 10000);
}

void TestNetworkLine::rawRefusalNoticeOrData()
{
    // The notice in pieces, then the close: in use.
    FakeServer busy;
    busy.onConnect = [](QTcpSocket& client) {
        client.write("Port alre");
        client.flush();
        QTimer::singleShot(50, &client, [&client] {
            client.write("ady in use\r\n");
            client.disconnectFromHost();
        });
    };
    NetworkLine refused(addressOf(busy.url("tcp")));
    QVERIFY(refused.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(refused.outcome(), NetworkLine::Outcome::InUse, 10000);

    // A line that happens to begin like the notice is a line: up, and nothing of it lost.
    FakeServer chatty;
    chatty.onConnect = [](QTcpSocket& client) { client.write("Port 5 ready\r\n"); };
    NetworkLine line(addressOf(chatty.url("tcp")));
    Collected in(line);
    QVERIFY(line.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(line.isUp(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(in.data, QByteArray("Port 5 ready\r\n"), 10000);

    // A server that accepts and closes without a word is a failure, not a line in use.
    FakeServer closing;
    closing.onConnect = [](QTcpSocket& client) { client.disconnectFromHost(); };
    NetworkLine closed(addressOf(closing.url("tcp")));
    QVERIFY(closed.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(closed.outcome(), NetworkLine::Outcome::Failed, 10000);

    // The notice, then a flood and no close: held only so far, then the server is cut off.
    FakeServer flooding;
    flooding.onConnect = [](QTcpSocket& client) {
        client.write("Port already in use\r\n" + QByteArray(200000, 'x'));
    };
    NetworkLine flooded(addressOf(flooding.url("tcp")));
    Collected none(flooded);
    QVERIFY(flooded.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(flooded.outcome(), NetworkLine::Outcome::Failed, 10000);
    QVERIFY(!flooded.isUp());
    QCOMPARE(none.data, QByteArray());
}

void TestNetworkLine::garbageAndEndlessSubnegotiation()
{
    // Noise before any option is agreed is held only so far, then the server is cut off.
    FakeServer noisy;
    noisy.onConnect = [](QTcpSocket& client) {
        QByteArray noise;
        for (int i = 0; i < 200000; ++i)
            noise.append(char((i * 7919) % 250)); // no IAC among them
        client.write(noise);
    };
    NetworkLine link(addressOf(noisy.url("rfc2217")));
    Collected in(link);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(link.outcome(), NetworkLine::Outcome::Failed, 10000);
    QVERIFY(in.data.isEmpty());

    FakeServer endless;
    endless.onConnect = [](QTcpSocket& client) {
        client.write(bytes({255, 253, 44, 255, 250, 44}) + QByteArray(100000, 'x'));
    };
    NetworkLine second(addressOf(endless.url("rfc2217")));
    QVERIFY(second.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_COMPARE_WITH_TIMEOUT(second.outcome(), NetworkLine::Outcome::Failed, 10000);
    QVERIFY2(second.errorString().contains("subnegotiation"), qPrintable(second.errorString()));
}

void TestNetworkLine::connectNeverCompletes()
{
    // A listener whose queue is full: the kernel drops further SYNs, as a host that never
    // answers does.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    QList<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
        fillers.append(filler);
    }
    QTest::qWait(200);

    NetworkLine link(addressOf(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port))));
    int ticks = 0;
    QTimer window;
    QObject::connect(&window, &QTimer::timeout, &link, [&ticks] { ++ticks; });
    window.start(10);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    // The event loop runs on while the connection hangs, and the attempt ends by itself.
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 10000);
    QCOMPARE(link.state(), NetworkLine::State::Connecting);
    QTRY_COMPARE_WITH_TIMEOUT(link.state(), NetworkLine::State::Idle, 20000);
    QCOMPARE(link.outcome(), NetworkLine::Outcome::Unreachable);
    for (int filler : fillers)
        ::close(filler);
    ::close(listener);
}

void TestNetworkLine::nothingListensOrNoSuchHost()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    for (const QString& url : {QStringLiteral("rfc2217://127.0.0.1:%1").arg(closedPort),
                               QStringLiteral("tcp://[::1]:%1").arg(closedPort),
                               QStringLiteral("tcp://no-such-host.invalid:4001")}) {
        NetworkLine link(addressOf(url));
        QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), NetworkLine::State::Idle, 20000);
        QCOMPARE(link.outcome(), NetworkLine::Outcome::Unreachable);
        // Not again within the second.
        QVERIFY(!link.connectToLine(settingsOf("115200,n,8,1")) || link.attempts() == 2);
    }
}

void TestNetworkLine::flood()
{
    // The server writes without pause; the window's timers keep ticking and every byte the
    // port takes arrives in order.
    FakeServer fake;
    constexpr qsizetype kTotal = 32 * 1024 * 1024;
    qsizetype written = 0;
    const QByteArray block = everyByte(256); // 64 KiB
    const auto writeMore = [&fake, &written, &block] {
        while (fake.client && written < kTotal && fake.client->bytesToWrite() < 1024 * 1024) {
            fake.client->write(block);
            written += block.size();
        }
    };
    fake.onConnect = [&writeMore](QTcpSocket& client) {
        QObject::connect(&client, &QTcpSocket::bytesWritten, &client, writeMore);
        writeMore();
    };
    NetworkLine link(addressOf(fake.url("tcp")));
    qsizetype total = 0;
    bool inOrder = true;
    QObject::connect(&link, &NetworkLine::dataArrived, &link, [&](const QByteArray& chunk) {
        QVERIFY(chunk.size() <= NetworkLine::kReadBound);
        for (qsizetype i = 0; i < chunk.size(); i += 4099)
            inOrder = inOrder && chunk[i] == char((total + i) % 256);
        total += chunk.size();
    });
    int ticks = 0;
    QTimer window;
    QObject::connect(&window, &QTimer::timeout, &link, [&ticks] { ++ticks; });
    window.start(10);
    QVERIFY(link.connectToLine(settingsOf("115200,n,8,1")));
    QTRY_VERIFY_WITH_TIMEOUT(total >= kTotal / 4, 60000);
    QVERIFY(ticks >= 1);
    QTRY_COMPARE_WITH_TIMEOUT(total, kTotal, 60000);
    QVERIFY(inOrder);
}

QTEST_GUILESS_MAIN(TestNetworkLine)
#include "tst_network_line.moc"
