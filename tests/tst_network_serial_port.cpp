// A serial-port object whose device is a network address: it opens without waiting, counts and
// reports the line's bytes (not the protocol's) like a local device's, and keeps its output
// bounded.
#include "port_bank/explicit_port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/serial_port.h"
#include "pty_peer.h"
#include "ser2net_server.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A raw TCP server of our own that never reads: the kernel's buffers fill up.
class DeafServer : public QObject {
public:
    DeafServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            client->setReadBufferSize(1); // leaves the bytes to the kernel
        });
    }
    QString url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QPointer<QTcpSocket> client;
};

} // namespace

class TestNetworkSerialPort : public QObject {
    Q_OBJECT
private slots:
    void opensWithoutWaitingAndCountsLikeALocalDevice();
    void outputIsBoundedWhenTheServerNeverReads();
    void aWaitingWriterIsToldWhenThePaceHasFallen();
};

void TestNetworkSerialPort::opensWithoutWaitingAndCountsLikeALocalDevice()
{
    PtyPeer far;
    Ser2netServer ser2net;
    ExplicitPortDirectory map(
        {{2, ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217)}});
    QVERIFY(ser2net.start());

    SerialPort port(map);
    QCOMPARE(port.setCommPort(2), 0);
    // The first open starts the connection and returns at once: not open yet, shown as no port.
    QCOMPARE(port.open(), 8002);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.output("x"), 8018);
    QTRY_VERIFY_WITH_TIMEOUT(port.isOpen(), 10000);
    QCOMPARE(port.open(), 8005);

    QCOMPARE(port.output(QStringLiteral("全:::ZAVB1.")), 0);
    QCOMPARE(far.readExactly(11, 10000), QByteArray("\xC8\xAB:::ZAVB1."));
    QVERIFY(far.write(QByteArray("OK\xff\r\n")));
    QString text;
    QString chunk;
    QTRY_VERIFY_WITH_TIMEOUT((port.input(chunk), text += chunk, text.endsWith("\r\n")), 10000);
    QCOMPARE(text, QStringLiteral("OK\uFFFD\r\n"));

    const PortCounters& counters = port.counters();
    QCOMPARE(counters.commandsSent, 1u);
    QCOMPARE(counters.bytesSent, 11u);
    QCOMPARE(counters.bytesReceived, 5u); // the line's bytes, not the Telnet ones
}

void TestNetworkSerialPort::outputIsBoundedWhenTheServerNeverReads()
{
    DeafServer server;
    ExplicitPortDirectory map({{1, server.url()}});
    SerialPort port(map);
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);

    const QString command(1024, QLatin1Char('Z'));
    std::int32_t result = 0;
    qint64 accepted = 0;
    for (int i = 0; i < 100000 && result == 0; ++i) {
        result = port.output(command);
        if (result == 0)
            ++accepted;
        if (i % 16 == 0)
            QCoreApplication::processEvents();
    }
    QCOMPARE(result, 8019);
    QVERIFY(port.pendingOutput() <= 64 * 1024);
    QVERIFY(port.isOpen());
    QCOMPARE(port.counters().commandsSent, std::uint64_t(accepted));
}

// No event says when a far line's backlog has gone out at its speed: the port tells a writer
// waiting on it when to look again. 9600 8N1: 960 bytes a second.
void TestNetworkSerialPort::aWaitingWriterIsToldWhenThePaceHasFallen()
{
    DeafServer server;
    ExplicitPortDirectory map({{1, server.url()}});
    SerialPort port(map);
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,8,1")), PortError::None);
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);
    QCOMPARE(port.pendingRecheckNs(0), -1);

    QCOMPARE(port.output(QString(2000, QLatin1Char('Z'))), 0);
    // 976 bytes above 1024: 1.0167 s, less the little time gone since.
    const qint64 ns = port.pendingRecheckNs(1024);
    QVERIFY2(ns > 900'000'000 && ns <= 1'016'700'000, qPrintable(QString::number(ns)));
    QCOMPARE(port.pendingRecheckNs(4096), -1);

    // At 4,000,000 baud a writer may run 10 ms (4,000 bytes) ahead before the pace holds it.
    DeafServer fastServer;
    ExplicitPortDirectory fastMap({{1, fastServer.url()}});
    SerialPort fast(fastMap);
    QCOMPARE(fast.setSettings(QStringLiteral("4000000,n,8,1")), PortError::None);
    QTRY_VERIFY_WITH_TIMEOUT((fast.open(), fast.isOpen()), 10000);
    QCOMPARE(fast.output(QString(3000, QLatin1Char('Z'))), 0);
    QCOMPARE(fast.pendingOutput(), 0);
    QCOMPARE(fast.output(QString(3000, QLatin1Char('Z'))), 0);
    QVERIFY2(fast.pendingOutput() > 0 && fast.pendingOutput() <= 2000,
             qPrintable(QString::number(fast.pendingOutput())));
}

QTEST_GUILESS_MAIN(TestNetworkSerialPort)
#include "tst_network_serial_port.moc"
