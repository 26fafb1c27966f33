// What a network port promises about its far line, watched at the far line itself: ptys served
// by a real ser2net, drained by a thread at a set rate as a serial line of that speed drains.
// Output is bounded and paced at the line's speed, a line that takes nothing is not a dead
// one, a host that vanishes is noticed, a failing server is retried at most once a second, and a
// broken server shows as a failure with its own words.
//
// The binary runs in a network namespace of its own when it may (as root), so that a host can
// vanish by taking its loopback down without touching any other test.
#include "port_bank/explicit_port_directory.h"
#include "port_bank/lines/network_address.h"
#include "port_bank/lines/network_line.h"
#include "port_bank/port_errors.h"
#include "port_bank/port_observer.h"
#include "port_bank/serial_port.h"
#include "raw_pty.h"
#include "ser2net_server.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

bool g_ownNetwork = false;

// Sets or clears IFF_UP of the loopback interface of this process's namespace.
bool setLoopbackUp(bool up)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = short(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok)
        qWarning("loopback flags: %s", std::strerror(errno));
    ::close(fd);
    return ok;
}

// A namespace with only a loopback address has no address at all to the resolver's eyes
// (AI_ADDRCONFIG), and ser2net then cannot look up 127.0.0.1: a second address on the loopback.
bool addLoopbackAlias()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo:1", IFNAMSIZ - 1);
    auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(0xC0000201); // 192.0.2.1, documentation range
    const bool ok = ::ioctl(fd, SIOCSIFADDR, &request) == 0;
    if (!ok)
        qWarning("loopback alias: %s", std::strerror(errno));
    ::close(fd);
    return ok;
}

// A pty whose master side a thread reads at a set rate, as a serial line of that speed takes
// bytes: rate bytes a second, 0 for a line held by flow control, -1 for as fast as it can.
class FarLine {
public:
    explicit FarLine(int rate) : rate_(rate)
    {
        if (!openRawPty(pty_))
            return;
        thread_ = std::thread([this] { run(); });
    }
    ~FarLine()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        if (pty_.master >= 0)
            ::close(pty_.master);
    }
    bool isValid() const { return pty_.master >= 0; }
    QString path() const { return pty_.slavePath; }
    void setRate(int rate) { rate_ = rate; }
    QByteArray received() const
    {
        QMutexLocker lock(&mutex_);
        return data_;
    }
    qsizetype size() const { return size_; }

private:
    void run()
    {
        double allowance = 0;
        QElapsedTimer clock;
        clock.start();
        char buffer[4096];
        while (!stopping_) {
            ::usleep(2000);
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            clock.restart();
            const int rate = rate_;
            allowance = rate < 0 ? double(sizeof buffer) : qMin(allowance + rate * seconds, 4096.0);
            if (allowance < 1)
                continue;
            const ssize_t got = ::read(pty_.master, buffer, size_t(allowance));
            if (got <= 0)
                continue;
            allowance -= double(got);
            QMutexLocker lock(&mutex_);
            data_.append(buffer, got);
            size_ = data_.size();
        }
    }

    RawPty pty_;
    std::atomic<int> rate_;
    std::atomic<bool> stopping_{false};
    std::atomic<qsizetype> size_{0};
    mutable QMutex mutex_;
    QByteArray data_;
    std::thread thread_;
};

class Events : public PortObserver {
public:
    void commandSent(int, const QByteArray&) override {}
    void bytesReceived(int, const QByteArray&) override {}
    void portEvent(int, Event event, const QString& detail) override
    {
        if (event == Event::Opened)
            opened << detail;
    }
    QStringList opened;
};

// Opening passes every 50 ms until the port opens.
bool openPort(SerialPort& port, int timeoutMs = 10000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (port.open() == PortError::AlreadyOpen || port.isOpen())
            return true;
        QTest::qWait(50);
    }
    return false;
}

NetworkAddress addressOf(const QString& device)
{
    return *NetworkAddress::parse(device);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

} // namespace

class TestNetworkFarLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sweepStopsWithinTheBound_data();
    void sweepStopsWithinTheBound();
    void slowLineStaysUp();
    void vanishedHostIsNoticed();
    void oneConnectionASecond_data();
    void oneConnectionASecond();
    void brokenServerShowsAsFailure();
    void serverReasonKept();
    void rawTcpOpensWithoutSettings();
};

void TestNetworkFarLine::initTestCase()
{
    if (!Ser2netServer::isInstalled())
        QFAIL("ser2net is not installed (the test packages bring it)");
}

void TestNetworkFarLine::sweepStopsWithinTheBound_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("rfc2217") << true;
    QTest::newRow("raw tcp") << false;
}

// Commands sent as fast as the port takes them for a second, then a preset: everything ahead of
// the preset at the far line is what had reached it plus at most the 64 KiB bound, however much
// the server and the sockets in between could have held. At 230400 baud, 23,040 bytes a second.
void TestNetworkFarLine::sweepStopsWithinTheBound()
{
    QFETCH(bool, rfc2217);
    FarLine far(23040);
    QVERIFY(far.isValid());
    Ser2netServer ser2net;
    ExplicitPortDirectory directory(
        {{1, ser2net.serve(far.path(), rfc2217 ? Ser2netServer::Protocol::Rfc2217
                                               : Ser2netServer::Protocol::RawTcp)}});
    QVERIFY(ser2net.start());
    SerialPort port(directory);
    QCOMPARE(port.setSettings(QStringLiteral("230400,n,8,1")), PortError::None);
    QVERIFY(openPort(port));

    const QByteArray command(":::ZAVB12345.");
    QElapsedTimer sweep;
    sweep.start();
    while (sweep.elapsed() < 1000) {
        for (int i = 0; i < 64; ++i)
            port.outputEncoded(command);
        QCoreApplication::processEvents();
    }
    const QByteArray preset(":::ZAVB.");
    // Not QTRY: it evaluates its condition again after the first success, and a second preset
    // may find the queue full again.
    QDeadlineTimer deadline(20000);
    while (port.outputEncoded(preset) != PortError::None) {
        QVERIFY2(!deadline.hasExpired(), "the preset was not taken within 20 s");
        QTest::qWait(50);
    }
    const qint64 arrivedWhenTaken = far.size();
    const qint64 sentBefore = qint64(port.counters().bytesSent) - preset.size();
    QTRY_VERIFY_WITH_TIMEOUT(far.received().endsWith(preset), 30000);
    QCOMPARE(far.size(), sentBefore + preset.size()); // nothing lost on the way
    QVERIFY2(
        sentBefore - arrivedWhenTaken <= 64 * 1024 + 1024,
        qPrintable(
            QStringLiteral("%1 bytes ahead of the preset").arg(sentBefore - arrivedWhenTaken)));
}

// A far line that takes nothing (held by flow control) closes the server's window; the line stays
// up with everything queued, and it all arrives once the far line moves again.
void TestNetworkFarLine::slowLineStaysUp()
{
    FarLine far(0);
    QVERIFY(far.isValid());
    Ser2netServer ser2net;
    NetworkLine line(addressOf(ser2net.serve(far.path(), Ser2netServer::Protocol::RawTcp)));
    QVERIFY(ser2net.start());
    QSignalSpy lost(&line, &SerialLine::lost);
    QTRY_VERIFY_WITH_TIMEOUT((line.open(SerialSettings()), line.isUp()), 10000);

    QByteArray sent;
    for (int i = 0; sent.size() < 4 * 1024 * 1024; ++i)
        sent += QByteArray::number(i).rightJustified(1024, '.');
    QCOMPARE(line.write(sent), 0);
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 12000 && lost.isEmpty())
        QTest::qWait(100);
    QVERIFY(lost.isEmpty());
    QVERIFY(line.isUp());

    far.setRate(-1);
    QTRY_VERIFY_WITH_TIMEOUT(far.size() >= sent.size() || !lost.isEmpty(), 30000);
    QVERIFY(lost.isEmpty());
    QCOMPARE(far.received(), sent);
}

// A host that vanishes acknowledges nothing: a command to it ends the line within seconds.
void TestNetworkFarLine::vanishedHostIsNoticed()
{
    if (!g_ownNetwork)
        QSKIP("needs a network namespace of its own (run as root)");
    QTcpServer host;
    QVERIFY(host.listen(QHostAddress::LocalHost, 0));
    NetworkLine line(addressOf(QStringLiteral("tcp://127.0.0.1:%1").arg(host.serverPort())));
    QSignalSpy lost(&line, &SerialLine::lost);
    QTRY_VERIFY_WITH_TIMEOUT((line.open(SerialSettings()), line.isUp()), 10000);
    QVERIFY(setLoopbackUp(false));
    QCOMPARE(line.write(":::ZAVB5."), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!lost.isEmpty(), 20000);
    QVERIFY(setLoopbackUp(true));
}

void TestNetworkFarLine::oneConnectionASecond_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("rfc2217") << QStringLiteral("rfc2217");
    QTest::newRow("raw tcp") << QStringLiteral("tcp");
}

// A server that takes each connection, says a few bytes and resets it, against opening passes
// every 5 ms: connections that reached the server, at most one a second.
void TestNetworkFarLine::oneConnectionASecond()
{
    QFETCH(QString, scheme);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    int accepted = 0;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            ++accepted;
            client->write("hello\r\n");
            client->flush();
            const linger reset{1, 0}; // closed with a reset, not a goodbye
            ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                         sizeof reset);
            client->abort();
            client->deleteLater();
        }
    });
    NetworkLine line(
        addressOf(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.serverPort())));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        line.open(SerialSettings());
        if (line.isUp())
            line.write("x");
        QTest::qWait(5);
    }
    QVERIFY(accepted >= 1);
    QVERIFY2(accepted <= clock.elapsed() / 1000 + 1,
             qPrintable(QStringLiteral("%1 connections in %2 ms, %3 attempts")
                            .arg(accepted)
                            .arg(clock.elapsed())
                            .arg(line.attempts())));
}

// A server that agrees COM-PORT-OPTION and answers the settings, then sends a subnegotiation
// without end: the port fails (red), not merely gone (gray), and says why.
void TestNetworkFarLine::brokenServerShowsAsFailure()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QPointer<QTcpSocket> client;
    QByteArray heard;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        client = server.nextPendingConnection();
        client->write(bytes({255, 251, 3, 255, 253, 3, 255, 251, 0, 255, 253, 0, 255, 253, 44}));
        connect(client, &QTcpSocket::readyRead, this, [&] {
            heard += client->readAll();
            // Each SET-* request answered with its own value, as ser2net does.
            for (qsizetype at; (at = heard.indexOf(bytes({255, 250, 44}))) >= 0;) {
                const qsizetype end = heard.indexOf(bytes({255, 240}), at);
                if (end < 0)
                    break;
                QByteArray answer = heard.mid(at, end + 2 - at);
                answer[3] = char(answer[3] + 100);
                heard.remove(0, end + 2);
                client->write(answer);
            }
        });
    });
    ExplicitPortDirectory directory(
        {{1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort())}});
    SerialPort port(directory);
    QVERIFY(openPort(port));
    QVERIFY(client);
    client->write(bytes({255, 250, 44, 107}) + QByteArray(300, 'x'));
    QTRY_VERIFY(!port.isOpen());
    QCOMPARE(port.open(), PortError::OpenFailed);
    QVERIFY2(port.problem().contains(QStringLiteral("subnegotiation")), qPrintable(port.problem()));
}

// ser2net cannot open the device behind the line: it says so and closes. The port fails and
// keeps ser2net's words.
void TestNetworkFarLine::serverReasonKept()
{
    Ser2netServer ser2net;
    ExplicitPortDirectory directory(
        {{1, ser2net.serve(QStringLiteral("/dev/lightbench-no-such-tty"),
                           Ser2netServer::Protocol::RawTcp)}});
    QVERIFY(ser2net.start());
    SerialPort port(directory);
    QTRY_VERIFY_WITH_TIMEOUT(port.open() == PortError::OpenFailed, 10000);
    QVERIFY2(port.problem().contains(QStringLiteral("Device open failure")),
             qPrintable(port.problem()));
}

// A raw TCP line carries no settings: its opening names the line and no settings text.
void TestNetworkFarLine::rawTcpOpensWithoutSettings()
{
    FarLine rawFar(-1);
    FarLine rfc2217Far(-1);
    QVERIFY(rawFar.isValid() && rfc2217Far.isValid());
    Ser2netServer ser2net;
    const QString raw = ser2net.serve(rawFar.path(), Ser2netServer::Protocol::RawTcp);
    const QString rfc2217 = ser2net.serve(rfc2217Far.path(), Ser2netServer::Protocol::Rfc2217);
    QVERIFY(ser2net.start());
    for (const QString& device : {raw, rfc2217}) {
        ExplicitPortDirectory directory({{1, device}});
        SerialPort port(directory);
        Events events;
        port.setObserver(&events, 0);
        QVERIFY(openPort(port));
        const QString expected = device == raw ? device : device + QStringLiteral(" 115200,n,8,1");
        QCOMPARE(events.opened, QStringList{expected});
    }
}

int main(int argc, char** argv)
{
    // Before any thread: a namespace of its own with only a loopback, brought up here.
    g_ownNetwork = ::unshare(CLONE_NEWNET) == 0 && setLoopbackUp(true) && addLoopbackAlias();
    QCoreApplication app(argc, argv);
    TestNetworkFarLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_network_far_line.moc"
