// What the window shows of each port beyond its colour: the status tooltip with the port's
// device and figures, from the start and as traffic moves; and the receive log's CR LF kept
// while the operator types.
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/status_tool_tip.h"
#include "main_window/text_box.h"
#include "pty_peer.h"
#include "window_bench.h"

#include <QDateTime>
#include <QtTest>

class TestWindowStatus : public QObject {
    Q_OBJECT
private slots:
    void theToolTipNamesThePortItsDeviceAndItsFigures();
    void byteCountsReadAsAPersonWould_data();
    void byteCountsReadAsAPersonWould();
    void everyPortNamesItsOwnDeviceBeforeTheFirstPass();
    void theToolTipFollowsTheTraffic();
    void typingKeepsEveryCrLfOfTheLog();
    void aReceiveBoxLaysOutOnlyTheEndOfALongChunk();
    void theSweepBoxesDrawAtMostOnceAFrame();
};

namespace {
// What the line edit itself holds, as drawn.
QString drawnText(TextBox* box)
{
    return static_cast<QLineEdit*>(box)->text();
}
} // namespace

void TestWindowStatus::theToolTipNamesThePortItsDeviceAndItsFigures()
{
    PortCounters counters;
    counters.commandsSent = 1234;
    counters.bytesSent = 20480;
    counters.bytesReceived = 18432;
    QCOMPARE(statusToolTip(3, QStringLiteral("/dev/ttyUSB2"), counters),
             QStringLiteral(
                 "串口3: /dev/ttyUSB2 — 发送 1234 条 / 20 KB, 接收 18 KB, 丢弃 0, 断开 0 次"));
    QCOMPARE(statusToolTip(16, QString(), PortCounters()),
             QStringLiteral("串口16: 无设备 — 发送 0 条 / 0, 接收 0, 丢弃 0, 断开 0 次"));
    // A port that failed says why, in the server's words, on a line of its own.
    QCOMPARE(statusToolTip(2, QStringLiteral("tcp://bench:4001"), PortCounters(),
                           QStringLiteral("tcp://bench:4001: Device open failure: busy")),
             QStringLiteral("串口2: tcp://bench:4001 — 发送 0 条 / 0, 接收 0, 丢弃 0, 断开 0 "
                            "次\n错误: tcp://bench:4001: Device open failure: busy"));

    counters.bytesDropped = 700;
    counters.losses = 2;
    counters.lastReceivedMs = 1700000000000;
    const QString at = QDateTime::fromMSecsSinceEpoch(1700000000000).toString(u"HH:mm:ss");
    QCOMPARE(statusToolTip(1, QStringLiteral("/dev/ttyACM0"), counters),
             QStringLiteral("串口1: /dev/ttyACM0 — 发送 1234 条 / 20 KB, 接收 18 KB, 丢弃 700 B, "
                            "断开 2 次, 最后接收 ") +
                 at);
}

void TestWindowStatus::byteCountsReadAsAPersonWould_data()
{
    QTest::addColumn<qulonglong>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0ull << "0";
    QTest::newRow("one") << 1ull << "1 B";
    QTest::newRow("under a kilobyte") << 1023ull << "1023 B";
    QTest::newRow("a kilobyte") << 1024ull << "1 KB";
    QTest::newRow("rounds down") << 1535ull << "1 KB";
    QTest::newRow("rounds up") << 1536ull << "2 KB";
    QTest::newRow("a megabyte") << 1048576ull << "1.0 MB";
    QTest::newRow("megabytes") << 3565158ull << "3.4 MB";
    QTest::newRow("terabytes") << 5497558138880ull << "5242880.0 MB";
}

void TestWindowStatus::byteCountsReadAsAPersonWould()
{
    QFETCH(qulonglong, bytes);
    QFETCH(QString, text);
    QCOMPARE(byteCountText(bytes), text);
}

void TestWindowStatus::everyPortNamesItsOwnDeviceBeforeTheFirstPass()
{
    WindowBench bench({{1, QStringLiteral("/dev/ttyS0")},
                       {2, QStringLiteral("/dev/ttyUSB0")},
                       {9, QStringLiteral("/dev/ttyUSB7")},
                       {16, QStringLiteral("/dev/ttyACM3")}});
    const QMap<int, QString> expected = {
        {0, "串口1: /dev/ttyS0 — "},   {1, "串口2: /dev/ttyUSB0 — "},
        {8, "串口9: /dev/ttyUSB7 — "}, {15, "串口16: /dev/ttyACM3 — "},
        {2, "串口3: 无设备 — "},       {14, "串口15: 无设备 — "}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QVERIFY2(bench.form.statusLabel(it.key())->toolTip().startsWith(it.value()),
                 qPrintable(bench.form.statusLabel(it.key())->toolTip()));
    for (int i = 0; i < 16; ++i)
        QVERIFY(
            bench.form.statusLabel(i)->toolTip().startsWith(QStringLiteral("串口%1: ").arg(i + 1)));
}

void TestWindowStatus::theToolTipFollowsTheTraffic()
{
    PtyPeer two;
    WindowBench bench({{2, two.linkPath()}});
    bench.form.openingPass();
    bench.form.SendToAllPorts(QStringLiteral("ZAV1."));
    bench.form.SendToAllPorts(QStringLiteral("ZAV2."));
    QCOMPARE(two.readExactly(10), QByteArray("ZAV1.ZAV2."));
    QVERIFY(two.write("OK\r\n"));
    QTRY_COMPARE(bench.form.portBank().port(1).counters().bytesReceived, 4u);
    bench.form.receivePoll();
    const QString tip = bench.form.statusLabel(1)->toolTip();
    QVERIFY2(tip.startsWith("串口2: " + two.linkPath() +
                            " — 发送 2 条 / 10 B, 接收 4 B, 丢弃 0, 断开 0 次, 最后接收 "),
             qPrintable(tip));

    // The device goes away: the next pass counts the loss.
    two.closeMaster();
    two.removeLink();
    QTRY_VERIFY(!bench.form.portBank().port(1).isOpen());
    bench.form.openingPass();
    QVERIFY2(bench.form.statusLabel(1)->toolTip().contains(QStringLiteral("断开 1 次")),
             qPrintable(bench.form.statusLabel(1)->toolTip()));
}

void TestWindowStatus::typingKeepsEveryCrLfOfTheLog()
{
    WindowBench bench({});
    MultiLineTextBox* log = bench.form.receiveLog();
    log->setText(QStringLiteral("OK 1\r\nOK 2\r\n"));
    QTest::keyClicks(log, QStringLiteral("x"));
    QCOMPARE(log->text(), QStringLiteral("OK 1\r\nOK 2\r\nx"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("13"));

    // A line break typed is a CR LF, and deleting a line break takes the pair.
    QTest::keyClick(log, Qt::Key_Return);
    QCOMPARE(log->text(), QStringLiteral("OK 1\r\nOK 2\r\nx\r\n"));
    QTest::keyClick(log, Qt::Key_Backspace);
    QTest::keyClick(log, Qt::Key_Backspace);
    QCOMPARE(log->text(), QStringLiteral("OK 1\r\nOK 2\r\n"));

    // Typing between a CR LF and the next line, and over a selection across a line break.
    QTextCursor caret = log->textCursor();
    caret.setPosition(5);
    log->setTextCursor(caret);
    QTest::keyClicks(log, QStringLiteral("y"));
    QCOMPARE(log->text(), QStringLiteral("OK 1\r\nyOK 2\r\n"));
    caret = log->textCursor();
    caret.setPosition(3);
    caret.setPosition(7, QTextCursor::KeepAnchor);
    log->setTextCursor(caret);
    QTest::keyClicks(log, QStringLiteral("z"));
    QCOMPARE(log->text(), QStringLiteral("OK zK 2\r\n"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("9"));

    // A lone CR or LF of a reply stays as it came, next to what the operator types.
    log->setText(QStringLiteral("a\rb\nc"));
    QTest::keyClicks(log, QStringLiteral("d"));
    QCOMPARE(log->text(), QStringLiteral("a\rb\ncd"));
}

void TestWindowStatus::aReceiveBoxLaysOutOnlyTheEndOfALongChunk()
{
    WindowBench bench({});
    TextBox* box = bench.form.receiveBox(0);
    QString chunk;
    for (int n = 0; chunk.size() < 30000; ++n)
        chunk += QStringLiteral("OK %1\r\n").arg(n);
    int changes = 0;
    connect(box, &TextBox::changed, this, [&] { ++changes; });
    box->setText(chunk);
    QCOMPARE(changes, 1);
    QCOMPARE(box->text(), chunk);
    QCOMPARE(drawnText(box).size(), 1024);
    QVERIFY(chunk.endsWith(drawnText(box)));
    box->setText(chunk);
    QCOMPARE(changes, 1);

    // The operator's caret at the start of what is drawn is at the start of the text.
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClicks(box, QStringLiteral("y"));
    QCOMPARE(box->text(), QStringLiteral("y") + chunk);
    // Select all and type: the whole text goes, whether the selection was made before the
    // text was laid out whole or after.
    box->setText(chunk + QStringLiteral("!"));
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("x"));
    QCOMPARE(box->text(), QStringLiteral("x"));
    box->setText(chunk + QStringLiteral("?"));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, QStringLiteral("z"));
    QCOMPARE(box->text(), QStringLiteral("z"));

    // A character outside the basic plane is not cut in two.
    const QString wide = QString::fromUcs4(U"\U00020000");
    box->setText(QString(2000, QLatin1Char('a')) + wide + QString(1023, QLatin1Char('b')));
    QCOMPARE(drawnText(box), QString(1023, QLatin1Char('b')));
}

void TestWindowStatus::theSweepBoxesDrawAtMostOnceAFrame()
{
    WindowBench bench({});
    TextBox* box = bench.form.prefixBox();
    int changes = 0;
    connect(box, &TextBox::changed, this, [&] { ++changes; });
    box->setText(QStringLiteral("ZAV1."));
    box->setText(QStringLiteral("ZAV2."));
    QCOMPARE(box->text(), QStringLiteral("ZAV2."));
    QCOMPARE(changes, 2);
    QTRY_COMPARE(drawnText(box), QStringLiteral("ZAV2."));
    // The operator reaching in finds the text drawn at once.
    box->setText(QStringLiteral("ZAV3."));
    QTest::keyClick(box, Qt::Key_End);
    QCOMPARE(drawnText(box), QStringLiteral("ZAV3."));
    QTest::keyClicks(box, QStringLiteral("x"));
    QCOMPARE(box->text(), QStringLiteral("ZAV3.x"));
}

QTEST_MAIN(TestWindowStatus)
#include "tst_window_status.moc"
