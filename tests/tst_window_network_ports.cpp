// The window with ports served by a real ser2net, over RFC 2217 and raw TCP: green, commands
// byte for byte on the far line, replies in the port's box and the log, the settings box
// reaching the far line, a line held by another client, the server stopped and started again.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "port_bank/port_status.h"
#include "pty_peer.h"
#include "ser2net_server.h"
#include "window_bench.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kGreen = 0x00FF00;
constexpr std::uint32_t kBlue = 0x0000FF;
constexpr std::uint32_t kLightGray = 0xC0C0C0;
constexpr std::uint32_t kRed = 0xFF0000;

struct Bench : WindowBench {
    explicit Bench(const QMap<int, QString>& ports) : WindowBench(ports) {}

    PortStatus status(int index) const
    {
        return {form.statusLabel(index)->text(), form.statusLabel(index)->foreColor()};
    }

    // Opening passes a tenth of a second apart (the interval box allows that) until the port's
    // label shows rgb.
    bool passUntil(int index, std::uint32_t rgb, int timeoutMs = 20000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            form.openingPass();
            if (status(index).rgb == rgb)
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // Receive polls until the port's box shows text.
    bool pollUntil(int index, const QString& text, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            form.receivePoll();
            if (form.receiveBox(index)->text() == text)
                return true;
            QTest::qWait(20);
        }
        return false;
    }
};

speed_t farSpeed(const QString& slavePath)
{
    const int fd = ::open(QFile::encodeName(slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return speed_t(-1);
    termios tio;
    const bool ok = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    return ok ? cfgetospeed(&tio) : speed_t(-1);
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// "全部亮:::ZAVB5." and "成功OK\r\n" as GB18030 bytes.
const QByteArray kCommandBytes("\xC8\xAB\xB2\xBF\xC1\xC1:::ZAVB5.");
const QByteArray kReplyBytes("\xB3\xC9\xB9\xA6OK\r\n");

} // namespace

class TestWindowNetworkPorts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void aServedLineIsAPort_data();
    void aServedLineIsAPort();
    void aLineHeldByAnotherClientShowsBlue_data();
    void aLineHeldByAnotherClientShowsBlue();
    void serverStoppedGoesGrayWithoutSpinningAndComesBack_data();
    void serverStoppedGoesGrayWithoutSpinningAndComesBack();
    void brokenServersShowRedAndNothingListeningGray();
};

void TestWindowNetworkPorts::initTestCase()
{
    if (!Ser2netServer::isInstalled())
        QFAIL("ser2net is not installed (the test packages bring it)");
}

void TestWindowNetworkPorts::aServedLineIsAPort_data()
{
    QTest::addColumn<int>("protocol");
    QTest::newRow("rfc2217") << int(Ser2netServer::Protocol::Rfc2217);
    QTest::newRow("raw tcp") << int(Ser2netServer::Protocol::RawTcp);
}

void TestWindowNetworkPorts::aServedLineIsAPort()
{
    QFETCH(int, protocol);
    const bool rfc2217 = protocol == int(Ser2netServer::Protocol::Rfc2217);
    PtyPeer far;
    QVERIFY(far.isValid());
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol(protocol));
    QVERIFY(ser2net.start());

    Bench bench({{3, url}});
    QVERIFY(bench.passUntil(2, kGreen));
    QCOMPARE(bench.status(2), (PortStatus{QStringLiteral("串口3"), kGreen}));
    QCOMPARE(bench.status(0), (PortStatus{QStringLiteral("串口1"), kLightGray}));
    QCOMPARE(bench.form.statusLabel(2)->toolTip().contains(url), true);

    // A preset: the same GB18030 bytes on the far line as on a local one.
    bench.form.presetBox(0)->setText(QStringLiteral("全部亮:::ZAVB5."));
    bench.form.clickPreset(0);
    QCOMPARE(far.readExactly(kCommandBytes.size(), 10000), kCommandBytes);
    QCOMPARE(far.readAvailable(100), QByteArray());

    // The reply in the port's box and in the log.
    QVERIFY(far.write(kReplyBytes));
    QVERIFY(bench.pollUntil(2, QStringLiteral("成功OK\r\n")));
    QVERIFY(bench.form.receiveLog()->text().endsWith(QStringLiteral("成功OK\r\n")));

    // The settings box: RFC 2217 carries it to the far line; raw TCP leaves the line alone.
    QCOMPARE(farSpeed(far.slavePath()), speed_t(rfc2217 ? B115200 : B9600));
    bench.form.settingsBox()->setText(QStringLiteral("19200,n,8,1"));
    bench.form.openingPass();
    if (rfc2217)
        QTRY_COMPARE_WITH_TIMEOUT(farSpeed(far.slavePath()), speed_t(B19200), 10000);
    else
        QCOMPARE(farSpeed(far.slavePath()), speed_t(B9600));
    QCOMPARE(bench.status(2).rgb, kGreen);
}

void TestWindowNetworkPorts::aLineHeldByAnotherClientShowsBlue_data()
{
    aServedLineIsAPort_data();
}

void TestWindowNetworkPorts::aLineHeldByAnotherClientShowsBlue()
{
    QFETCH(int, protocol);
    PtyPeer far;
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol(protocol));
    QVERIFY(ser2net.start());

    // Another client (a terminal program, another Lightbench) has the line.
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, quint16(url.section(':', -1).toUInt()));
    QVERIFY(other.waitForConnected(10000));

    Bench bench({{5, url}});
    QVERIFY(bench.passUntil(4, kBlue));
    QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("占用5"), kBlue}));
    bench.form.receivePoll();
    QCOMPARE(bench.form.receiveBox(4)->text(), QString()); // nothing of the server's notice shows

    other.disconnectFromHost();
    QVERIFY(bench.passUntil(4, kGreen));
    QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("串口5"), kGreen}));
}

void TestWindowNetworkPorts::serverStoppedGoesGrayWithoutSpinningAndComesBack_data()
{
    aServedLineIsAPort_data();
}

void TestWindowNetworkPorts::serverStoppedGoesGrayWithoutSpinningAndComesBack()
{
    QFETCH(int, protocol);
    PtyPeer far;
    Ser2netServer ser2net;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol(protocol));
    QVERIFY(ser2net.start());
    Bench bench({{1, url}});
    QVERIFY(bench.passUntil(0, kGreen));

    ser2net.stop();
    QVERIFY(bench.passUntil(0, kLightGray));
    QVERIFY(!bench.form.portBank().port(0).isOpen());

    // Passes and polls as the timers run them, for three seconds: no busy loop meanwhile.
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 3000) {
        bench.form.openingPass();
        bench.form.receivePoll();
        QTest::qWait(50);
    }
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.5 * double(wall.elapsed()) / 1000, qPrintable(QString::number(cpu)));
    QCOMPARE(bench.status(0), (PortStatus{QStringLiteral("串口1"), kLightGray}));

    QVERIFY(ser2net.start());
    QVERIFY(bench.passUntil(0, kGreen));
    bench.form.presetBox(0)->setText(QStringLiteral("全部亮:::ZAVB5."));
    bench.form.clickPreset(0);
    QCOMPARE(far.readExactly(kCommandBytes.size(), 10000), kCommandBytes);
}

void TestWindowNetworkPorts::brokenServersShowRedAndNothingListeningGray()
{
    // One that refuses COM-PORT-OPTION, one that accepts and hangs up at once, and a port
    // number where nothing listens.
    QTcpServer refusing;
    QVERIFY(refusing.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&refusing, &QTcpServer::newConnection, &refusing, [&refusing] {
        QTcpSocket* client = refusing.nextPendingConnection();
        client->write(QByteArray("\xff\xfe\x2c", 3)); // DONT COM-PORT-OPTION
    });
    QTcpServer hangingUp;
    QVERIFY(hangingUp.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&hangingUp, &QTcpServer::newConnection, &hangingUp,
                     [&hangingUp] { hangingUp.nextPendingConnection()->disconnectFromHost(); });
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    Bench bench({{1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(refusing.serverPort())},
                 {2, QStringLiteral("tcp://127.0.0.1:%1").arg(hangingUp.serverPort())},
                 {3, QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort)}});
    QVERIFY(bench.passUntil(0, kRed));
    QVERIFY(bench.passUntil(1, kRed));
    QCOMPARE(bench.status(2), (PortStatus{QStringLiteral("串口3"), kLightGray}));
    for (int i = 0; i < 3; ++i)
        QVERIFY(!bench.form.portBank().port(i).isOpen());
}

QTEST_MAIN(TestWindowNetworkPorts)
#include "tst_window_network_ports.moc"
