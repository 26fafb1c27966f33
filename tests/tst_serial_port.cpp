// What a serial-port object keeps of its own, whatever line is behind it: the error numbers of
// an opening, the settings text and the line's answers to it, the output bound, the counters, a
// loss, and retirement (what an observer is told: tst_port_traffic). The line is a fake that
// answers as the test says; the real lines have tests of their own (tst_device_line,
// tst_network_line).
#include "port_bank/lines/serial_line.h"
#include "port_bank/port_directory.h"
#include "port_bank/serial_port.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <optional>

namespace {

class FakeLine : public SerialLine {
public:
    Opening opening = Opening::Opened;
    std::optional<bool> answer = true; // to applySettings, at once; none: the test answers later
    QList<int> openedAtBaud;
    QList<int> askedBaud;
    QByteArray written;
    qint64 queued = 0;
    bool upNow = false;

    Opening open(const SerialSettings& settings) override
    {
        openedAtBaud.append(settings.baudRate);
        upNow = opening == Opening::Opened;
        if (upNow)
            emit up();
        return opening;
    }
    bool isUp() const override { return upNow; }
    void applySettings(const SerialSettings& settings) override
    {
        askedBaud.append(settings.baudRate);
        if (answer)
            emit settingsAnswered(*answer);
    }
    bool write(const QByteArray& bytes) override
    {
        written += bytes;
        queued += bytes.size();
        return true;
    }
    qint64 bytesToWrite() const override { return queued; }
    void close() override
    {
        upNow = false;
        queued = 0;
    }
    void goAway()
    {
        upNow = false;
        emit lost();
    }
};

class DeviceMap : public PortDirectory {
public:
    QString deviceFor(int portNumber) override { return devices.value(portNumber); }
    QMap<int, QString> devices{{1, QStringLiteral("/dev/a")}};
};

// Every line a port made, with the device text it was made for.
struct Lines {
    SerialPort::LineMaker maker()
    {
        return [this](const QString& device, QString*) {
            auto line = std::make_unique<FakeLine>();
            made.append(line.get());
            devices.append(device);
            return line;
        };
    }
    FakeLine& last() { return *made.last(); }
    QList<FakeLine*> made;
    QStringList devices;
};

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void openingOutcomesAndPortNumbers_data();
    void openingOutcomesAndPortNumbers();
    void settingsTextFollowsTheLinesAnswer();
    void outputIsBoundedCountedAndTold();
    void aLossIsCountedOnceAndAnOpenLooksAfresh();
    void aNewDeviceGetsANewLineWithTheSettings();
    void retiredPortsStayClosed();
};

void TestSerialPort::openingOutcomesAndPortNumbers_data()
{
    QTest::addColumn<int>("opening");
    QTest::addColumn<int>("error");
    QTest::newRow("opened") << int(SerialLine::Opening::Opened) << 0;
    QTest::newRow("no such device") << int(SerialLine::Opening::NoSuchDevice) << 8002;
    QTest::newRow("in use") << int(SerialLine::Opening::InUse) << 8005;
    QTest::newRow("failed") << int(SerialLine::Opening::Failed) << 8010;
}

void TestSerialPort::openingOutcomesAndPortNumbers()
{
    QFETCH(int, opening);
    QFETCH(int, error);
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QCOMPARE(port.setCommPort(0), 380);
    QCOMPARE(port.setCommPort(17), 380);
    QCOMPARE(port.setCommPort(2), 0);
    QCOMPARE(port.open(), 8002); // nothing behind number 2: no line is made
    QVERIFY(lines.made.isEmpty());

    QCOMPARE(port.setCommPort(1), 0);
    QCOMPARE(port.open(), 0);
    port.close();
    lines.last().opening = SerialLine::Opening(opening);
    QCOMPARE(port.open(), error);
    QCOMPARE(port.isOpen(), error == 0);
    QCOMPARE(lines.made.size(), 1);
    if (error == 0) {
        QCOMPARE(port.open(), 8005);
        QCOMPARE(port.setCommPort(2), 8005);
        QCOMPARE(port.devicePath(), QStringLiteral("/dev/a"));
    }
}

void TestSerialPort::settingsTextFollowsTheLinesAnswer()
{
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QCOMPARE(port.settings(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,8,1")), 0);
    QCOMPARE(port.setSettings(QStringLiteral("9600,x,8,1")), 380);
    QCOMPARE(port.open(), 0);
    FakeLine& line = lines.last();
    QCOMPARE(line.openedAtBaud, QList<int>{9600});
    QCOMPARE(port.settings(), QStringLiteral("9600,n,8,1"));

    // Refused at once: the previous text stays, and the refused one is not asked again.
    line.answer = false;
    QCOMPARE(port.setSettings(QStringLiteral("57600,n,8,1")), 8015);
    QCOMPARE(port.settings(), QStringLiteral("9600,n,8,1"));
    QCOMPARE(port.setSettings(QStringLiteral("57600,n,8,1")), 8015);
    QCOMPARE(line.askedBaud, QList<int>{57600});
    QCOMPARE(port.setSettings(QStringLiteral("9600,n,8,1")), 0);

    // Answered later, as a far line does: in force meanwhile, taken back by a refusal.
    line.answer.reset();
    QCOMPARE(port.setSettings(QStringLiteral("4800,n,8,1")), 0);
    QCOMPARE(port.settings(), QStringLiteral("4800,n,8,1"));
    emit line.settingsAnswered(true);
    QCOMPARE(port.setSettings(QStringLiteral("2400,n,8,1")), 0);
    emit line.settingsAnswered(false);
    QCOMPARE(port.settings(), QStringLiteral("4800,n,8,1"));
    QCOMPARE(port.setSettings(QStringLiteral("2400,n,8,1")), 8015);
    QCOMPARE(line.askedBaud, (QList<int>{57600, 4800, 2400}));

    // A line that opens afresh is asked again.
    port.close();
    QCOMPARE(port.open(), 0);
    QCOMPARE(line.openedAtBaud, (QList<int>{9600, 4800}));
    QCOMPARE(port.setSettings(QStringLiteral("2400,n,8,1")), 0);
    QCOMPARE(line.askedBaud.size(), 4);
}

void TestSerialPort::outputIsBoundedCountedAndTold()
{
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QString text = QStringLiteral("stale");
    QCOMPARE(port.output(QStringLiteral("x")), 8018);
    QCOMPARE(port.input(text), 8018);
    QCOMPARE(text, QStringLiteral("stale"));
    QCOMPARE(port.pendingOutput(), 0);

    QCOMPARE(port.open(), 0);
    FakeLine& line = lines.last();
    QCOMPARE(port.output(QStringLiteral("全:1.")), 0);
    QCOMPARE(port.output(QString()), 0);
    QCOMPARE(line.written, QByteArray("\xC8\xAB:1."));
    emit line.dataArrived(QByteArray("O"));
    emit line.dataArrived(QByteArray("K\xC8"));
    QCOMPARE(port.input(text), 0);
    QCOMPARE(text, QStringLiteral("OK"));
    emit line.dataArrived(QByteArray("\xAB"));
    QCOMPARE(port.input(text), 0);
    QCOMPARE(text, QStringLiteral("全"));

    // The bound counts what the line still holds; a refused text leaves nothing of itself.
    line.queued = 65536 - 3;
    QCOMPARE(port.output(QStringLiteral("abcd")), 8019);
    QCOMPARE(port.output(QStringLiteral("abc")), 0);
    QCOMPARE(port.pendingOutput(), 65536);
    QCOMPARE(port.output(QStringLiteral("z")), 8019);
    QCOMPARE(line.written, QByteArray("\xC8\xAB:1.abc"));

    const PortCounters& counters = port.counters();
    QCOMPARE(counters.commandsSent, 2u);
    QCOMPARE(counters.bytesSent, 8u);
    QCOMPARE(counters.bytesReceived, 4u);
}

void TestSerialPort::aLossIsCountedOnceAndAnOpenLooksAfresh()
{
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QSignalSpy lost(&port, &SerialPort::deviceLost);
    QCOMPARE(port.open(), 0);
    FakeLine& line = lines.last();

    // Told twice before the event loop turns: one loss. The port reads as closed at once.
    line.goAway();
    emit line.lost();
    QVERIFY(!port.isOpen());
    QCOMPARE(port.output(QStringLiteral("x")), 8018);
    QVERIFY(lost.wait(2000));
    QCOMPARE(port.open(), 0);

    // An open that comes before the loss is done finishes it first, and keeps the line it opens.
    line.goAway();
    QCOMPARE(port.open(), 0);
    QCOMPARE(lost.count(), 2);
    QCoreApplication::processEvents();
    QVERIFY(port.isOpen());
    QCOMPARE(port.counters().losses, 2u);
    QCOMPARE(port.counters().returns, 2u);
}

void TestSerialPort::aNewDeviceGetsANewLineWithTheSettings()
{
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QCOMPARE(port.open(), 0);
    QCOMPARE(port.setSettings(QStringLiteral("19200,n,8,1")), 0);
    port.close();
    QCOMPARE(port.open(), 0);
    port.close();
    map.devices[1] = QStringLiteral("tcp://bench:4001");
    QCOMPARE(port.open(), 0);
    QCOMPARE(lines.devices, (QStringList{"/dev/a", "tcp://bench:4001"}));
    QCOMPARE(lines.last().openedAtBaud, QList<int>{19200});
    QCOMPARE(port.devicePath(), QStringLiteral("tcp://bench:4001"));
}

void TestSerialPort::retiredPortsStayClosed()
{
    DeviceMap map;
    Lines lines;
    SerialPort port(map, lines.maker());
    QCOMPARE(port.open(), 0);
    QCOMPARE(port.output(QStringLiteral("queued")), 0);
    port.retire();
    QVERIFY(!port.isOpen());
    QCOMPARE(lines.last().queued, 0); // dropped, not sent
    QCOMPARE(port.open(), 8010);
    QCOMPARE(lines.last().openedAtBaud.size(), 1);
    QCOMPARE(port.output(QStringLiteral("x")), 8018);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
