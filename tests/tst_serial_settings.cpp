// Settings texts: what the parser takes, with the values it reads, and what it refuses.
#include "port_bank/lines/serial_settings.h"

#include <QTest>

using Parity = SerialSettings::Parity;
using StopBits = SerialSettings::StopBits;

class TestSerialSettings : public QObject {
    Q_OBJECT
private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestSerialSettings::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<StopBits>("stopBits");

    QTest::newRow("default") << "115200,n,8,1" << 115200 << Parity::None << 8 << StopBits::One;
    QTest::newRow("blanks around fields")
        << " 9600 ,\te , 7 ,2 " << 9600 << Parity::Even << 7 << StopBits::Two;
    QTest::newRow("upper case odd") << "19200,O,6,1" << 19200 << Parity::Odd << 6 << StopBits::One;
    QTest::newRow("mark") << "57600,m,8,2" << 57600 << Parity::Mark << 8 << StopBits::Two;
    QTest::newRow("space upper") << "38400,S,8,1" << 38400 << Parity::Space << 8 << StopBits::One;
    QTest::newRow("lowest baud, 1.5 stop")
        << "50,N,5,1.5" << 50 << Parity::None << 5 << StopBits::OneAndHalf;
    QTest::newRow("highest baud") << "4000000,n,8,1" << 4000000 << Parity::None << 8
                                  << StopBits::One;
    QTest::newRow("non-standard baud")
        << "12345,E,8,1" << 12345 << Parity::Even << 8 << StopBits::One;
}

void TestSerialSettings::accepted()
{
    QFETCH(QString, text);
    QFETCH(int, baudRate);
    QFETCH(Parity, parity);
    QFETCH(int, dataBits);
    QFETCH(StopBits, stopBits);

    const std::optional<SerialSettings> settings = parseSerialSettings(text);
    QVERIFY(settings.has_value());
    QCOMPARE(settings->baudRate, baudRate);
    QCOMPARE(settings->parity, parity);
    QCOMPARE(settings->dataBits, dataBits);
    QCOMPARE(settings->stopBits, stopBits);
}

void TestSerialSettings::refused_data()
{
    QTest::addColumn<QString>("text");

    // Shape.
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "   ";
    QTest::newRow("word") << "abc";
    QTest::newRow("baud only") << "115200";
    QTest::newRow("three fields") << "115200,n,8";
    QTest::newRow("five fields") << "115200,n,8,1,x";
    QTest::newRow("trailing comma") << "115200,n,8,1,";
    QTest::newRow("empty fields") << ",,,";
    QTest::newRow("semicolons") << "115200;n;8;1";
    // Baud rate.
    QTest::newRow("zero baud") << "0,n,8,1";
    QTest::newRow("below 50") << "49,n,8,1";
    QTest::newRow("above 4000000") << "4000001,n,8,1";
    QTest::newRow("overflowing baud") << "99999999999999999999,n,8,1";
    QTest::newRow("negative baud") << "-9600,n,8,1";
    QTest::newRow("plus sign") << "+9600,n,8,1";
    QTest::newRow("decimal baud") << "9600.0,n,8,1";
    QTest::newRow("exponent") << "1e5,n,8,1";
    QTest::newRow("hex") << "0x2580,n,8,1";
    QTest::newRow("blank inside number") << "115 200,n,8,1";
    QTest::newRow("full-width digits") << QString::fromUtf8("１１５２００,n,8,1");
    QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("٩٦٠٠,n,8,1");
    // Parity.
    QTest::newRow("unknown parity") << "115200,x,8,1";
    QTest::newRow("parity word") << "115200,none,8,1";
    QTest::newRow("missing parity") << "115200,,8,1";
    // Data bits.
    QTest::newRow("4 data bits") << "115200,n,4,1";
    QTest::newRow("9 data bits") << "115200,n,9,1";
    QTest::newRow("08 data bits") << "115200,n,08,1";
    // Stop bits.
    QTest::newRow("0 stop bits") << "115200,n,8,0";
    QTest::newRow("3 stop bits") << "115200,n,8,3";
    QTest::newRow("1.0 stop bits") << "115200,n,8,1.0";
    QTest::newRow("1,5 stop bits") << "115200,n,8,1,5";
    // A NUL byte is not a blank.
    QTest::newRow("NUL inside") << QStringLiteral("115200,n,8") + QChar(0) + QStringLiteral(",1");
    QTest::newRow("NUL at end") << QStringLiteral("115200,n,8,1") + QChar(0);
}

void TestSerialSettings::refused()
{
    QFETCH(QString, text);
    QVERIFY(!parseSerialSettings(text).has_value());
}

QTEST_GUILESS_MAIN(TestSerialSettings)
#include "tst_serial_settings.moc"
