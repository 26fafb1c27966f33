// What comes back: the receive poll against real pseudo-terminals, the per-port receive boxes,
// and the receive log's length, caret and limit.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"
#include "pty_peer.h"
#include "window_bench.h"

#include <QtTest>

namespace {

// Ports opened once. A poll runs once the bytes just written by each peer wait at its port;
// no event runs meanwhile, so nothing takes them before the poll.
struct Bench : WindowBench {
    explicit Bench(const QMap<int, QString>& ports) : WindowBench(ports) { form.openingPass(); }
    bool pollWhenWaiting(std::initializer_list<std::pair<const PtyPeer*, qsizetype>> arrivals)
    {
        for (const auto& [peer, bytes] : arrivals) {
            if (!peer->waitUntilUnreadAtSlave(bytes))
                return false;
        }
        form.receivePoll();
        return true;
    }
};

int caretPosition(MultiLineTextBox* box)
{
    return box->textCursor().position();
}

} // namespace

class TestWindowReceive : public QObject {
    Q_OBJECT
private slots:
    void aReplyInTwoPiecesShowsTheSecondInTheBoxAndBothInTheLog();
    void twoPortsInOnePollAreLoggedInPortOrderWithNothingBetween();
    void aQuietOrClosedPortLeavesItsBoxAndTheLogAlone();
    void aChunkAsLongAsTheLastReplacesItWhereverItDiffers();
    void everythingPendingComesInOneChunkAndSplitCharactersArriveWhole();
    void theLogEmptiesItselfOnlyPastTheLimit_data();
    void theLogEmptiesItselfOnlyPastTheLimit();
    void aPolledChunkCountsWithTheLogAsOneText_data();
    void aPolledChunkCountsWithTheLogAsOneText();
    void emptyingReentersTheChangeHandlerExactlyOnce();
    void clearButtonEmptiesTheLog();
    void typingInTheMiddlePutsTheCaretBackAtTheEnd();
};

void TestWindowReceive::aReplyInTwoPiecesShowsTheSecondInTheBoxAndBothInTheLog()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    QVERIFY(peer.write("OK"));
    QVERIFY(bench.pollWhenWaiting({{&peer, 2}}));
    QCOMPARE(bench.form.receiveBox(0)->text(), QStringLiteral("OK"));
    QCOMPARE(bench.form.receiveLog()->text(), QStringLiteral("OK"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("2"));
    QVERIFY(peer.write(" 1\r\n"));
    QVERIFY(bench.pollWhenWaiting({{&peer, 4}}));
    QCOMPARE(bench.form.receiveBox(0)->text(), QStringLiteral(" 1\r\n"));
    QCOMPARE(bench.form.receiveLog()->text(), QStringLiteral("OK 1\r\n"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("6"));
    QCOMPARE(caretPosition(bench.form.receiveLog()),
             bench.form.receiveLog()->document()->characterCount() - 1);
}

void TestWindowReceive::twoPortsInOnePollAreLoggedInPortOrderWithNothingBetween()
{
    PtyPeer one, three;
    Bench bench({{1, one.linkPath()}, {3, three.linkPath()}});
    // The higher port answers first on the wire; the log still holds port 1's text first.
    QVERIFY(three.write("third"));
    QVERIFY(one.write("first"));
    QVERIFY(bench.pollWhenWaiting({{&one, 5}, {&three, 5}}));
    QCOMPARE(bench.form.receiveLog()->text(), QStringLiteral("firstthird"));
    QCOMPARE(bench.form.receiveBox(0)->text(), QStringLiteral("first"));
    QCOMPARE(bench.form.receiveBox(2)->text(), QStringLiteral("third"));
    QVERIFY(bench.form.receiveBox(1)->text().isEmpty());
}

void TestWindowReceive::aQuietOrClosedPortLeavesItsBoxAndTheLogAlone()
{
    PtyPeer peer;
    Bench bench({{2, peer.linkPath()}});
    // A write of the same text is no change: with nothing received the log's handler never
    // runs, so its label keeps its design-time caption.
    bench.form.receivePoll();
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("Label7"));
    QVERIFY(peer.write("hello"));
    QVERIFY(bench.pollWhenWaiting({{&peer, 5}}));
    bench.form.receivePoll();
    QCOMPARE(bench.form.receiveBox(1)->text(), QStringLiteral("hello"));
    QCOMPARE(bench.form.receiveLog()->text(), QStringLiteral("hello"));
    // The device goes away: the box keeps what it showed, the log keeps its text.
    peer.closeMaster();
    peer.removeLink();
    bench.form.receivePoll();
    QCOMPARE(bench.form.receiveBox(1)->text(), QStringLiteral("hello"));
    QCOMPARE(bench.form.receiveLog()->text(), QStringLiteral("hello"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("5"));
}

// A long chunk is laid out only in part; one of the same length that differs only in the part
// not laid out still replaces it.
void TestWindowReceive::aChunkAsLongAsTheLastReplacesItWhereverItDiffers()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    const QByteArray first(2000, 'a');
    const QByteArray second = "b" + first.left(1999);
    for (const QByteArray& chunk : {first, second, QByteArray("cd"), QByteArray("ef")}) {
        QVERIFY(peer.write(chunk));
        QVERIFY(bench.pollWhenWaiting({{&peer, chunk.size()}}));
        QCOMPARE(bench.form.receiveBox(0)->text(), QString::fromLatin1(chunk));
    }
}

void TestWindowReceive::everythingPendingComesInOneChunkAndSplitCharactersArriveWhole()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    // More than the classic 1024-byte receive buffer, in many pieces: one chunk, nothing lost.
    QByteArray burst;
    for (int i = 0; i < 5; ++i) {
        const QByteArray piece = QByteArray(500, char('a' + i));
        QVERIFY(peer.write(piece));
        burst += piece;
        QVERIFY(peer.waitUntilUnreadAtSlave(piece.size()));
        // All but the last piece are taken from the driver by the event loop before the poll.
        if (i < 4)
            QVERIFY(QTest::qWaitFor([&] { return peer.unreadAtSlave() == 0; }, 10000));
    }
    bench.form.receivePoll();
    QCOMPARE(bench.form.receiveBox(0)->text().toLatin1(), burst);
    // Over 1000 characters: the log emptied itself.
    QCOMPARE(bench.form.receiveLog()->text(), QString());
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("0"));

    // "占用" is four bytes in GB18030; the poll falls between the two bytes of the first.
    const QByteArray inUse("\xd5\xbc\xd3\xc3");
    QVERIFY(peer.write(inUse.left(1)));
    QVERIFY(bench.pollWhenWaiting({{&peer, 1}}));
    QCOMPARE(bench.form.receiveBox(0)->text().toLatin1(), burst); // nothing whole yet
    QVERIFY(peer.write(inUse.mid(1)));
    QVERIFY(bench.pollWhenWaiting({{&peer, 3}}));
    QCOMPARE(bench.form.receiveBox(0)->text(), QStringLiteral("占用"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("2"));
}

void TestWindowReceive::theLogEmptiesItselfOnlyPastTheLimit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("appended");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("label");
    const QString n999(999, QLatin1Char('x'));
    QTest::newRow("999 + 5") << n999 << "abcde" << QString() << "0";
    QTest::newRow("999 + 1 = exactly 1000") << n999 << "y" << n999 + QLatin1Char('y') << "1000";
    QTest::newRow("1000 + 1") << n999 + "y"
                              << "z" << QString() << "0";
    QTest::newRow("empty + 1001") << QString() << QString(1001, QLatin1Char('q')) << QString()
                                  << "0";
    const QString chinese1000 = QString(1000, QChar(0x4E32)); // 串
    QTest::newRow("1000 Chinese characters stay")
        << QString() << chinese1000 << chinese1000 << "1000";
    QTest::newRow("1000 Chinese + 1") << chinese1000 << "x" << QString() << "0";
    // A character outside the basic plane counts one, though QString holds it as two units.
    const QString wide = QString::fromUcs4(U"\U00020000");
    QTest::newRow("500 wide characters")
        << QString() << wide.repeated(500) << wide.repeated(500) << "500";
}

void TestWindowReceive::theLogEmptiesItselfOnlyPastTheLimit()
{
    QFETCH(QString, before);
    QFETCH(QString, appended);
    QFETCH(QString, after);
    QFETCH(QString, label);
    Bench bench({});
    bench.form.receiveLog()->setText(before);
    bench.form.receiveLog()->setText(bench.form.receiveLog()->text() + appended);
    QCOMPARE(bench.form.receiveLog()->text(), after);
    QCOMPARE(bench.form.logLengthLabel()->text(), label);
    QCOMPARE(caretPosition(bench.form.receiveLog()),
             bench.form.receiveLog()->document()->characterCount() - 1);
}

// The poll judges the log and the chunk together without joining them first: the limit falls
// where it falls for the joined text.
void TestWindowReceive::aPolledChunkCountsWithTheLogAsOneText_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("label");
    const QString n999(999, QLatin1Char('x'));
    QTest::newRow("999 + 1") << n999 << QByteArray("y") << "1000";
    QTest::newRow("999 + 2") << n999 << QByteArray("yz") << "0";
    QTest::newRow("0 + 1001") << QString() << QByteArray(1001, 'q') << "0";
    QTest::newRow("0 + 4000") << QString() << QByteArray(4000, 'q') << "0";
    // U+20000 is 95 32 82 36 on the wire, two code units and one character.
    QTest::newRow("998 + a wide character")
        << n999.left(998) << QByteArray("\x95\x32\x82\x36") << "999";
    QTest::newRow("998 + a wide character and 2")
        << n999.left(998) << QByteArray("\x95\x32\x82\x36yz") << "0";
}

void TestWindowReceive::aPolledChunkCountsWithTheLogAsOneText()
{
    QFETCH(QString, before);
    QFETCH(QByteArray, wire);
    QFETCH(QString, label);
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.receiveLog()->setText(before);
    QVERIFY(peer.write(wire));
    QVERIFY(bench.pollWhenWaiting({{&peer, wire.size()}}));
    QCOMPARE(bench.form.logLengthLabel()->text(), label);
    QCOMPARE(bench.form.receiveLog()->text().isEmpty(), label == QStringLiteral("0"));
}

void TestWindowReceive::emptyingReentersTheChangeHandlerExactlyOnce()
{
    Bench bench({});
    int changes = 0;
    connect(bench.form.receiveLog(), &MultiLineTextBox::changed, this, [&] { ++changes; });
    bench.form.receiveLog()->setText(QString(1001, QLatin1Char('z')));
    // One change for the long text, one nested change for the emptied log, and no more.
    QCOMPARE(changes, 2);
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("0"));
}

void TestWindowReceive::clearButtonEmptiesTheLog()
{
    Bench bench({});
    bench.form.receiveLog()->setText(QStringLiteral("received"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("8"));
    QTest::mouseClick(bench.form.clearLogButton(), Qt::LeftButton);
    QCOMPARE(bench.form.receiveLog()->text(), QString());
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("0"));
}

void TestWindowReceive::typingInTheMiddlePutsTheCaretBackAtTheEnd()
{
    Bench bench({});
    MultiLineTextBox* log = bench.form.receiveLog();
    log->setText(QStringLiteral("line 1\r\nline 2"));
    QTextCursor caret = log->textCursor();
    caret.setPosition(3);
    log->setTextCursor(caret);
    QTest::keyClicks(log, QStringLiteral("AB"));
    // The first keystroke lands at the caret, which then goes back to the end for the second.
    QCOMPARE(log->text(), QStringLiteral("linAe 1\r\nline 2B"));
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("16"));
    QCOMPARE(caretPosition(log), log->document()->characterCount() - 1);
    // Typing that takes the log past the limit empties it.
    log->setText(QString(1000, QLatin1Char('k')));
    QTest::keyClick(log, Qt::Key_X);
    QCOMPARE(log->text(), QString());
    QCOMPARE(bench.form.logLengthLabel()->text(), QStringLiteral("0"));
}

QTEST_MAIN(TestWindowReceive)
#include "tst_window_receive.moc"
