// Port numbers for the automatic mapping: a stable first order, sticky numbers, and the lowest
// free number for a device that appears later.
#include "port_bank/port_numbering.h"

#include <QtTest>

class TestPortNumbering : public QObject {
    Q_OBJECT
private slots:
    void firstLookNumbersUartsThenUsbThenTheRestInNaturalOrder();
    void devicesKeepTheirNumbersAndNewOnesTakeTheLowestFree();
    void onlySixteenNumbersExist();
};

void TestPortNumbering::firstLookNumbersUartsThenUsbThenTheRestInNaturalOrder()
{
    PortNumbering numbering;
    numbering.update({"/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyS1",
                      "/dev/ttyS0"});
    QCOMPARE(numbering.deviceFor(1), "/dev/ttyS0");
    QCOMPARE(numbering.deviceFor(2), "/dev/ttyS1");
    QCOMPARE(numbering.deviceFor(3), "/dev/ttyACM0");
    QCOMPARE(numbering.deviceFor(4), "/dev/ttyUSB2");
    QCOMPARE(numbering.deviceFor(5), "/dev/ttyUSB10");
    QCOMPARE(numbering.deviceFor(6), "/dev/rfcomm0");
    QCOMPARE(numbering.deviceFor(7), QString());
    QCOMPARE(numbering.deviceFor(0), QString());
    QCOMPARE(numbering.deviceFor(17), QString());
}

void TestPortNumbering::devicesKeepTheirNumbersAndNewOnesTakeTheLowestFree()
{
    PortNumbering numbering;
    numbering.update({"/dev/ttyUSB0", "/dev/ttyUSB1"});
    // ttyUSB0 unplugged: its number stays reserved for it.
    numbering.update({"/dev/ttyUSB1"});
    QCOMPARE(numbering.deviceFor(1), "/dev/ttyUSB0");
    // A new adapter takes the lowest free number, even though a built-in UART would sort first.
    numbering.update({"/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0"});
    QCOMPARE(numbering.deviceFor(3), "/dev/ttyS0");
    QCOMPARE(numbering.deviceFor(4), "/dev/ttyACM0");
    // Plugged back: the old number again.
    numbering.update({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0"});
    QCOMPARE(numbering.deviceFor(1), "/dev/ttyUSB0");
    QCOMPARE(numbering.deviceFor(2), "/dev/ttyUSB1");
    QCOMPARE(numbering.deviceFor(5), QString());
}

void TestPortNumbering::onlySixteenNumbersExist()
{
    PortNumbering numbering;
    QStringList many;
    for (int i = 0; i < 20; ++i)
        many.append(QStringLiteral("/dev/ttyUSB%1").arg(i));
    numbering.update(many);
    QCOMPARE(numbering.deviceFor(16), "/dev/ttyUSB15");
    numbering.update({"/dev/ttyUSB19"});
    for (int n = 1; n <= 16; ++n)
        QVERIFY(numbering.deviceFor(n) != "/dev/ttyUSB19");
}

QTEST_GUILESS_MAIN(TestPortNumbering)
#include "tst_port_numbering.moc"
