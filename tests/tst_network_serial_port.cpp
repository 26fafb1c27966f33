// A serial-port object whose device is a network address: it opens without waiting, counts and
// reports its traffic like a local device, keeps its output and input bounded, and handles a
// refused settings text as a local device does.
#include "port_bank/port_directory.h"
#include "port_bank/port_observer.h"
#include "port_bank/serial_port.h"
#include "pty_peer.h"
#include "ser2net_server.h"

#include <QMap>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

class DeviceMap : public PortDirectory {
public:
    QString deviceFor(int portNumber) override { return devices.value(portNumber); }
    QMap<int, QString> devices;
};

class Recorder : public PortObserver {
public:
    void commandSent(int index, const QByteArray& bytes) override
    {
        log << QStringLiteral("%1 TX ").arg(index) + QString::fromLatin1(bytes.toHex());
    }
    void bytesReceived(int index, const QByteArray& bytes) override
    {
        received += bytes;
        Q_UNUSED(index);
    }
    void portEvent(int index, Event event, const QString& detail) override
    {
        static const char* const names[] = {"Opened",   "InUse",   "Lost",
                                            "Returned", "Dropped", "Discarded"};
        log << QStringLiteral("%1 %2 %3").arg(index).arg(names[int(event)], detail);
    }
    QStringList log;
    QByteArray received;
};

// A raw TCP server of our own, for the bounds: it reads or not, and writes what it is told.
class RawServer : public QObject {
public:
    explicit RawServer(bool reads) : reads_(reads)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            if (!reads_)
                client->setReadBufferSize(1); // leaves the bytes to the kernel, which fills up
            if (onConnect)
                onConnect(*client);
        });
    }
    QString url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QPointer<QTcpSocket> client;
    std::function<void(QTcpSocket&)> onConnect;

private:
    bool reads_;
};

// What ser2net says first on a telnet(rfc2217) accepter; every speed asked is answered 9600.
void playStubbornComPortServer(QTcpServer& server)
{
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket* client = server.nextPendingConnection();
        client->write(
            QByteArray("\xff\xfb\x03\xff\xfd\x03\xff\xfb\x00\xff\xfd\x00\xff\xfd\x2c", 15));
        QObject::connect(client, &QTcpSocket::readyRead, client, [client] {
            const QByteArray in = client->readAll();
            for (qsizetype at = in.indexOf("\xff\xfa\x2c"); at >= 0 && at + 4 < in.size();
                 at = in.indexOf("\xff\xfa\x2c", at + 1)) {
                const char code = in[at + 3];
                if (code == 1)
                    client->write(QByteArray("\xff\xfa\x2c\x65\x00\x00\x25\x80\xff\xf0", 10));
                else
                    client->write(QByteArray("\xff\xfa\x2c", 3) + char(code + 100) +
                                  in.mid(at + 4, 1) + QByteArray("\xff\xf0", 2));
            }
        });
    });
}

} // namespace

class TestNetworkSerialPort : public QObject {
    Q_OBJECT
private slots:
    void opensWithoutWaitingAndCountsLikeALocalDevice();
    void lossAndReturnAreCountedOnce();
    void aRefusedSettingsTextFailsLikeALocalRefusal();
    void outputIsBoundedWhenTheServerNeverReads();
    void aFloodIsBoundedAndCounted();
};

void TestNetworkSerialPort::opensWithoutWaitingAndCountsLikeALocalDevice()
{
    PtyPeer far;
    Ser2netServer ser2net;
    DeviceMap map;
    map.devices.insert(2, ser2net.serve(far.slavePath(), Ser2netServer::Protocol::Rfc2217));
    QVERIFY(ser2net.start());

    SerialPort port(map);
    Recorder recorder;
    port.setObserver(&recorder, 1);
    QCOMPARE(port.setCommPort(2), 0);
    // The first open starts the connection and returns at once: not open yet, shown as no port.
    QCOMPARE(port.open(), 8002);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.output("x"), 8018);
    QTRY_VERIFY_WITH_TIMEOUT(port.isOpen(), 10000);
    QCOMPARE(port.open(), 8005);
    QCOMPARE(port.setCommPort(3), 8005);
    QCOMPARE(port.devicePath(), map.devices.value(2));

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
    QCOMPARE(counters.bytesDropped, 0u);
    QCOMPARE(recorder.received, QByteArray("OK\xff\r\n"));
    QCOMPARE(recorder.log, (QStringList{"1 Opened " + map.devices.value(2) + " 115200,n,8,1",
                                        "1 TX c8ab3a3a3a5a415642312e"}));
}

void TestNetworkSerialPort::lossAndReturnAreCountedOnce()
{
    PtyPeer far;
    Ser2netServer ser2net;
    DeviceMap map;
    const QString url = ser2net.serve(far.slavePath(), Ser2netServer::Protocol::RawTcp);
    map.devices.insert(1, url);
    QVERIFY(ser2net.start());
    SerialPort port(map);
    Recorder recorder;
    port.setObserver(&recorder, 0);
    QSignalSpy lost(&port, &SerialPort::deviceLost);
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);

    ser2net.stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.output("x"), 8018);
    QCOMPARE(port.open(), 8002); // nothing listens: light gray

    QVERIFY(ser2net.start());
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(port.counters().losses, 1u);
    QCOMPARE(port.counters().returns, 1u);
    QCOMPARE(recorder.log, (QStringList{"0 Opened " + url + " 115200,n,8,1", "0 Lost " + url,
                                        "0 Returned " + url + " 115200,n,8,1"}));
}

void TestNetworkSerialPort::aRefusedSettingsTextFailsLikeALocalRefusal()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    playStubbornComPortServer(server);
    DeviceMap map;
    map.devices.insert(1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
    SerialPort port(map);
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);

    // The far line runs at 9600 whatever is asked: the text in force fails on every pass, and
    // the port stays open, as with a local device that refuses a text.
    QTRY_COMPARE_WITH_TIMEOUT(port.setSettings(QStringLiteral("115200,n,8,1")), 8015, 10000);
    QCOMPARE(port.setSettings(QStringLiteral("115200,n,8,1")), 8015);
    QVERIFY(port.isOpen());
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,8,1")), 0);
    QTest::qWait(300);
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,8,1")), 0);
    QCOMPARE(port.setSettings(QStringLiteral("fast")), 380);
}

void TestNetworkSerialPort::outputIsBoundedWhenTheServerNeverReads()
{
    RawServer server(false);
    DeviceMap map;
    map.devices.insert(1, server.url());
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

void TestNetworkSerialPort::aFloodIsBoundedAndCounted()
{
    constexpr qint64 kFlood = 4 * 1024 * 1024;
    RawServer server(true);
    server.onConnect = [](QTcpSocket& client) { client.write(QByteArray(kFlood, 'f')); };
    DeviceMap map;
    map.devices.insert(1, server.url());
    SerialPort port(map);
    QTRY_VERIFY_WITH_TIMEOUT((port.open(), port.isOpen()), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(port.counters().bytesReceived, std::uint64_t(kFlood), 30000);

    // Nobody read meanwhile: the newest 64 KiB are kept, the rest counted as dropped.
    QString text;
    QCOMPARE(port.input(text), 0);
    QCOMPARE(text.size(), 65536);
    QCOMPARE(port.counters().bytesDropped, std::uint64_t(4194304 - 65536));
}

QTEST_GUILESS_MAIN(TestNetworkSerialPort)
#include "tst_network_serial_port.moc"
