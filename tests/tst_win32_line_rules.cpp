// The rules of the Windows serial line, run here because wine cannot show them: what a Win32
// error code means to a COM port (wine lets a second program open a port that is in use), and
// the DCB numbers a settings text asks for. Codes and numbers are Microsoft's published values.
#include "port_bank/lines/win32_comm_format.h"
#include "port_bank/lines/win32_error_meaning.h"

#include <QTest>

using Opening = SerialLine::Opening;

class TestWin32LineRules : public QObject {
    Q_OBJECT
private slots:
    void errorsOfAnOpeningAndOfAnOpenPort_data();
    void errorsOfAnOpeningAndOfAnOpenPort();
    void settingsTextsAsDcbNumbers_data();
    void settingsTextsAsDcbNumbers();
};

void TestWin32LineRules::errorsOfAnOpeningAndOfAnOpenPort_data()
{
    QTest::addColumn<quint32>("error");
    QTest::addColumn<Opening>("opening");
    QTest::addColumn<bool>("gone"); // the same code from a read or write on an open port

    QTest::newRow("invalid function") << 1u << Opening::NoSuchDevice << false;
    QTest::newRow("file not found") << 2u << Opening::NoSuchDevice << false;
    QTest::newRow("path not found") << 3u << Opening::NoSuchDevice << false;
    QTest::newRow("access denied") << 5u << Opening::InUse << true;
    QTest::newRow("sharing violation") << 32u << Opening::InUse << false;
    QTest::newRow("device removed") << 1617u << Opening::NoSuchDevice << true;
    QTest::newRow("operation aborted") << 995u << Opening::Failed << true;
    QTest::newRow("bad command") << 22u << Opening::Failed << true;
    QTest::newRow("general failure") << 31u << Opening::Failed << true;
    QTest::newRow("invalid parameter") << 87u << Opening::Failed << false;
    QTest::newRow("not enough memory") << 8u << Opening::Failed << false;
}

void TestWin32LineRules::errorsOfAnOpeningAndOfAnOpenPort()
{
    QFETCH(quint32, error);
    QFETCH(Opening, opening);
    QFETCH(bool, gone);
    QCOMPARE(openingForWin32Error(error), opening);
    QCOMPARE(win32ErrorMeansGone(error), gone);
}

void TestWin32LineRules::settingsTextsAsDcbNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("byteSize");
    QTest::addColumn<int>("parity");   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    QTest::addColumn<int>("stopBits"); // 0 one, 1 one and a half, 2 two

    QTest::newRow("default") << "115200,n,8,1" << 115200 << 8 << 0 << 0;
    QTest::newRow("odd") << "9600,o,7,1" << 9600 << 7 << 1 << 0;
    QTest::newRow("even, two") << "19200,e,8,2" << 19200 << 8 << 2 << 2;
    QTest::newRow("mark, 1.5 of 8 bits is two") << "1200,m,8,1.5" << 1200 << 8 << 3 << 2;
    QTest::newRow("space, 1.5 of 5 bits") << "300,s,5,1.5" << 300 << 5 << 4 << 1;
    QTest::newRow("two of 5 bits is 1.5") << "300,n,5,2" << 300 << 5 << 0 << 1;
    QTest::newRow("fastest") << "4000000,n,6,1" << 4000000 << 6 << 0 << 0;
}

void TestWin32LineRules::settingsTextsAsDcbNumbers()
{
    QFETCH(QString, text);
    QFETCH(int, baudRate);
    QFETCH(int, byteSize);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    const std::optional<SerialSettings> settings = parseSerialSettings(text);
    QVERIFY(settings);
    const CommFormat format = commFormatOf(*settings);
    QCOMPARE(int(format.baudRate), baudRate);
    QCOMPARE(int(format.byteSize), byteSize);
    QCOMPARE(int(format.parity), parity);
    QCOMPARE(int(format.stopBits), stopBits);
}

QTEST_GUILESS_MAIN(TestWin32LineRules)
#include "tst_win32_line_rules.moc"
