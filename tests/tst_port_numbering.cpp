// Port numbers for the automatic mapping: a stable first order, sticky numbers, and the lowest
// free number for a device that appears later, also as the directory keeps looking at the system.
#include "port_bank/automatic_port_directory.h"
#include "port_bank/port_numbering.h"

#include <QtTest>

class TestPortNumbering : public QObject {
    Q_OBJECT
private slots:
    void firstLookNumbersUartsThenUsbThenTheRestInNaturalOrder();
    void devicesKeepTheirNumbersAndNewOnesTakeTheLowestFree();
    void onlySixteenNumbersExist();
    void theDirectoryKeepsLookingAtTheSystem();
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

void TestPortNumbering::theDirectoryKeepsLookingAtTheSystem()
{
    QStringList present{"/dev/ttyUSB0"};
    AutomaticPortDirectory directory([&] { return present; });
    QCOMPARE(directory.deviceFor(1), "/dev/ttyUSB0");
    QCOMPARE(directory.deviceFor(2), QString());
    QCOMPARE(directory.deviceFor(17), QString());

    // Plugged in while the program runs: numbered by a later look.
    present = {"/dev/ttyUSB0", "/dev/ttyACM0"};
    QTRY_COMPARE_WITH_TIMEOUT(directory.deviceFor(2), QStringLiteral("/dev/ttyACM0"), 10000);
    // Unplugged: its number waits for it, and a newcomer takes the next free one.
    present = {"/dev/ttyACM0", "/dev/ttyS0"};
    QTRY_COMPARE_WITH_TIMEOUT(directory.deviceFor(3), QStringLiteral("/dev/ttyS0"), 10000);
    QCOMPARE(directory.deviceFor(1), "/dev/ttyUSB0");
    // Plugged back: its old number, whatever else came meanwhile.
    present = {"/dev/ttyUSB7", "/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"};
    QTRY_COMPARE_WITH_TIMEOUT(directory.deviceFor(4), QStringLiteral("/dev/ttyUSB7"), 10000);
    QCOMPARE(directory.deviceFor(1), "/dev/ttyUSB0");
    QCOMPARE(directory.deviceFor(2), "/dev/ttyACM0");
    QCOMPARE(directory.deviceFor(3), "/dev/ttyS0");
    QCOMPARE(directory.deviceFor(5), QString());
}

QTEST_GUILESS_MAIN(TestPortNumbering)
#include "tst_port_numbering.moc"
