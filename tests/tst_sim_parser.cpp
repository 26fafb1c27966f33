// The simulated controller's language, byte stream in, channel states out: every sample command
// of the reference text, the presets and both sweeps, the worked examples, clipping, timing, and
// bad input that must be refused and counted without touching any channel.
#include "simulator/controller_timing.h"
#include "simulator/simulated_controller.h"

#include <QtTest>

namespace {

SimulatedController::Options channels32()
{
    return {};
}

// The letters of the status line, one per channel.
QByteArray letters(const SimulatedController& controller)
{
    const QByteArray line = controller.model().statusLine();
    return line.mid(2, line.size() - 4);
}

QByteArray repeated(const char* letter, int times)
{
    return QByteArray(letter).repeated(times);
}

} // namespace

class TestSimParser : public QObject {
    Q_OBJECT
private slots:
    void commandsSetTheirChannels_data();
    void commandsSetTheirChannels();
    void speedsAndBoardAddress();
    void readStatusAnswersAtOnce();
    void commandsMayArriveInAnyPieces();
    void badInputIsRefusedCountedAndChangesNothing_data();
    void badInputIsRefusedCountedAndChangesNothing();
    void lengthLimitIs128BytesWithColonsAndStop();
    void acknowledgementsAndDrops();
    void relaysIgnoreDimmingAndYOnlyInvertsOnAndOff();
    void effectsFollowTheControllerClock();
};

void TestSimParser::commandsSetTheirChannels_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray allA = repeated("A", 32);
    const QByteArray allB = repeated("B", 32);
    // The reference text's samples.
    QTest::newRow("all on") << QByteArray() << QByteArray(":::ZAVA.") << allA;
    QTest::newRow("all on by a range, clipped")
        << QByteArray() << QByteArray(":::ZAVB0-9999.") << allA;
    QTest::newRow("all off") << QByteArray(":::ZAVA.") << QByteArray(":::ZAVB.") << allB;
    QTest::newRow("one on, others kept")
        << QByteArray(":::ZAVC.") << QByteArray(":::ZAVZ1A.") << "CA" + repeated("C", 30);
    QTest::newRow("one off, others kept")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ1B.") << "AB" + repeated("A", 30);
    QTest::newRow("one inverted") << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ1Y.")
                                  << "AB" + repeated("A", 30);
    QTest::newRow("some on, others off")
        << QByteArray(":::ZAVC.") << QByteArray(":::ZAVB1,3,5,10-20.")
        << "BABABABBBB" + repeated("A", 11) + repeated("B", 11);
    QTest::newRow("some on, others kept")
        << QByteArray(":::ZAVC.") << QByteArray(":::ZAVZ1,3,5,10-20.")
        << "CACACACCCC" + repeated("A", 11) + repeated("C", 11);
    QTest::newRow("some off, others kept")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ1B,3B,5B,10-20B.")
        << "ABABABAAAA" + repeated("B", 11) + repeated("A", 11);
    QTest::newRow("example 1") << QByteArray(":::ZAVA.") << QByteArray(":::ZAVB1C3D,5N,12-20.")
                               << QByteArray("BCBDBNBBBBBBAAAAAAAAABBBBBBBBBBB");
    QTest::newRow("example 2") << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ1E2F3G,30Y,12-20B.")
                               << QByteArray("AEFGAAAAAAAABBBBBBBBBAAAAAAAAABA");
    QTest::newRow("example 3") << QByteArray(":::ZAVA.")
                               << QByteArray(":::ZAVB10AABBAAAA20CD30EFG.")
                               << QByteArray("BBBBBBBBBBAABBAAAABBCDBBBBBBBBEF");
    QTest::newRow("example 4, block fill")
        << QByteArray() << QByteArray(":::ZAVB0-1999(EFG).") << repeated("EFG", 10) + "EF";
    // The presets' defaults.
    QTest::newRow("preset all flash")
        << QByteArray() << QByteArray(":::ZAVC.") << repeated("C", 32);
    QTest::newRow("preset single on")
        << QByteArray() << QByteArray(":::ZAVZ0A.") << "A" + repeated("B", 31);
    QTest::newRow("preset single off")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ0B.") << "B" + repeated("A", 31);
    QTest::newRow("preset single flash")
        << QByteArray() << QByteArray(":::ZAVZ0C.") << "C" + repeated("B", 31);
    QTest::newRow("preset range") << QByteArray() << QByteArray(":::ZAVB0-5,7-20A.")
                                  << "AAAAAABAAAAAAAAAAAAAA" + repeated("B", 11);
    QTest::newRow("preset block fill")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVB0-9999(EFG).")
        << repeated("EFG", 10) + "EF";
    // Both sweeps, and the timed sweep after the fast one has left its prefix behind: the range
    // command counts, the channel and '.' after it are stray bytes.
    QTest::newRow("timed sweep step")
        << QByteArray(":::::::::::ZAVB6.") << QByteArray(":::::::::::ZAVB7.")
        << "BBBBBBBA" + repeated("B", 24);
    QTest::newRow("timed sweep end")
        << QByteArray(":::::::::::ZAVB31.") << QByteArray(":::ZAVB.") << allB;
    QTest::newRow("fast sweep, clipped")
        << QByteArray(":::ZAVA.") << QByteArray(":::::::::::::::::::ZAVB12-72.")
        << repeated("B", 12) + repeated("A", 20);
    QTest::newRow("stale fast prefix")
        << QByteArray() << QByteArray(":::::::::::::::::::ZAVB31-91.5.") << repeated("B", 31) + "A";
    // The further forms: chained letters, ranges with one letter, dimming.
    QTest::newRow("consecutive letters")
        << QByteArray() << QByteArray(":::ZAVZ10AABB.") << "BBBBBBBBBBAABB" + repeated("B", 18);
    QTest::newRow("range with a letter")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVZ10-20B.")
        << repeated("A", 10) + repeated("B", 11) + repeated("A", 11);
    QTest::newRow("dimming and running")
        << QByteArray() << QByteArray(":::ZAVB0abcdefghijk,20OPQ.")
        << "abcdefghijk" + repeated("B", 9) + "OPQ" + repeated("B", 9);
    QTest::newRow("Z in a B list keeps")
        << QByteArray(":::ZAVC.") << QByteArray(":::ZAVB2Z,4.") << "BBCBA" + repeated("B", 27);
    QTest::newRow("later items win")
        << QByteArray() << QByteArray(":::ZAVB0-3,2B.") << "AABA" + repeated("B", 28);
    QTest::newRow("Y in a B list inverts on")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVB5Y.") << allB;
    QTest::newRow("Y in a B list inverts off")
        << QByteArray() << QByteArray(":::ZAVB5Y.") << "BBBBBA" + repeated("B", 26);
    // Named twice: Y and Z read the state from before the command, not the earlier item's.
    QTest::newRow("B then Y inverts the old on")
        << QByteArray(":::ZAVA.") << QByteArray(":::ZAVB1B,1Y.") << allB;
    QTest::newRow("A then Z keeps the old off")
        << QByteArray() << QByteArray(":::ZAVB1A,1Z.") << allB;
    QTest::newRow("block fill from channel 1")
        << QByteArray() << QByteArray(":::ZAVB1-9(EFG).") << "BEFGEFGEFG" + repeated("B", 22);
    QTest::newRow("channels beyond the last ignored")
        << QByteArray() << QByteArray(":::ZAVZ31AA,40-65535C.") << repeated("B", 31) + "A";
    QTest::newRow("empty Z list changes nothing")
        << QByteArray(":::ZAVC.") << QByteArray(":::ZAVZ.") << repeated("C", 32);
}

void TestSimParser::commandsSetTheirChannels()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, expected);
    SimulatedController controller(channels32());
    controller.receive(before, 0);
    const std::int64_t rejectedBefore = controller.rejected();
    controller.receive(command, 10);
    QCOMPARE(letters(controller), expected);
    QCOMPARE(controller.rejected() - rejectedBefore, command.endsWith(".5.") ? 1 : 0);
    QCOMPARE(controller.model().statusLine(), "G:" + expected + "\r\n");
}

void TestSimParser::speedsAndBoardAddress()
{
    SimulatedController controller(channels32());
    const ControllerTiming& timing = controller.model().timing();
    QCOMPARE(timing.flashHalfPeriodMs, 500);
    QCOMPARE(timing.runningStepMs, 300);
    QCOMPARE(timing.fadeFullMs, 1000);
    controller.receive(":::STA20.:STB5.::::STB200.", 0);
    QCOMPARE(timing.flashHalfPeriodMs, 200);
    QCOMPARE(timing.runningStepMs, 50);
    QCOMPARE(timing.fadeFullMs, 100000);
    controller.receive(":::STA50.:STB30.::::STB100.", 0);
    QCOMPARE(timing.flashHalfPeriodMs, 500);
    QCOMPARE(timing.runningStepMs, 300);
    QCOMPARE(timing.fadeFullMs, 1000);

    QVERIFY(!controller.model().boardAddress());
    controller.receive(":SET_BOARD_ADR=0123.", 0);
    QCOMPARE(controller.model().boardAddress(), std::optional<std::uint16_t>(0x0123));
    controller.receive(":SET_BOARD_ADR=beef.", 0);
    QCOMPARE(controller.model().boardAddress(), std::optional<std::uint16_t>(0xBEEF));
    controller.receive(":SET_BOARD_ADR=FFFF.", 0);
    QVERIFY(!controller.model().boardAddress());
    QCOMPARE(controller.accepted(), 9);
    QCOMPARE(controller.rejected(), 0);
}

void TestSimParser::readStatusAnswersAtOnce()
{
    SimulatedController controller(channels32());
    QCOMPARE(controller.receive(":::ZAVB5.", 0), QByteArray());
    QCOMPARE(controller.receive(":::G", 0), QByteArray("G:BBBBBABBBBBBBBBBBBBBBBBBBBBBBBBB\r\n"));
    // A '.' after G belongs to it; the next command follows as usual.
    QCOMPARE(controller.receive(".:::ZAVZ0A.:::G.", 0),
             QByteArray("G:ABBBBABBBBBBBBBBBBBBBBBBBBBBBBBB\r\n"));
    QCOMPARE(controller.receive(":::G:::G", 0), controller.model().statusLine().repeated(2));
    QCOMPARE(controller.rejected(), 0);
    QCOMPARE(controller.lastCommand(), QByteArray("G"));

    SimulatedController eight({.channels = 8});
    QCOMPARE(eight.receive(":::ZAVC.:G", 0), QByteArray("G:CCCCCCCC\r\n"));
}

void TestSimParser::commandsMayArriveInAnyPieces()
{
    const QByteArray stream =
        " :::ZAVB0-9999.\r\n:::::::::::ZAVB3.junk:::ZAVZ1E2F3G,30Y.:::G:::ZAVZ9(.";
    SimulatedController whole(channels32());
    const QByteArray wholeReplies = whole.receive(stream, 0);
    QCOMPARE(whole.accepted(), 4);
    QCOMPARE(whole.rejected(), 2); // "junk", and the unclosed bracket
    QCOMPARE(wholeReplies, QByteArray("G:BEFGBBBBBBBBBBBBBBBBBBBBBBBBBBAB\r\n"));
    for (int piece : {1, 2, 3, 7}) {
        SimulatedController cut(channels32());
        QByteArray replies;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            replies += cut.receive(stream.mid(at, piece), 0);
        QCOMPARE(replies, wholeReplies);
        QCOMPARE(cut.accepted(), 4);
        QCOMPARE(cut.rejected(), 2);
    }
}

void TestSimParser::badInputIsRefusedCountedAndChangesNothing_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("rejections");
    QTest::newRow("stray text") << QByteArray("hello") << 1;
    QTest::newRow("empty body") << QByteArray(":::.") << 1;
    QTest::newRow("lone stop") << QByteArray(".") << 1;
    QTest::newRow("no terminator") << QByteArray(":::ZAVA:::ZAVB3.") << 1;
    QTest::newRow("no colon") << QByteArray("ZAVA.STB30.") << 1;
    QTest::newRow("unknown keyword") << QByteArray(":::ZAX.") << 1;
    QTest::newRow("unknown mode") << QByteArray(":::ZAVD1.") << 1;
    QTest::newRow("unknown letter") << QByteArray(":::ZAVB1X.") << 1;
    QTest::newRow("list after ZAVA") << QByteArray(":::ZAVA5.") << 1;
    QTest::newRow("two letters after a range") << QByteArray(":::ZAVB10-20AB.") << 1;
    QTest::newRow("reversed range") << QByteArray(":::ZAVB20-10.") << 1;
    QTest::newRow("range without end") << QByteArray(":::ZAVB20-.") << 1;
    QTest::newRow("empty item") << QByteArray(":::ZAVB1,,3.") << 1;
    QTest::newRow("trailing comma") << QByteArray(":::ZAVB1,.") << 1;
    QTest::newRow("negative channel") << QByteArray(":::ZAVB-1.") << 1;
    QTest::newRow("huge number") << QByteArray(":::ZAVB99999999999999999999999.") << 1;
    QTest::newRow("channel 65536") << QByteArray(":::ZAVB0-65536.") << 1;
    QTest::newRow("nested brackets") << QByteArray(":::ZAVB0-9((EF)).") << 1;
    QTest::newRow("unclosed bracket") << QByteArray(":::ZAVB0-9(EF.") << 1;
    QTest::newRow("empty brackets") << QByteArray(":::ZAVB0-9().") << 1;
    QTest::newRow("brackets without range") << QByteArray(":::ZAVB5(EF).") << 1;
    QTest::newRow("blank inside") << QByteArray(":::STA 50.") << 1;
    QTest::newRow("flash speed 0") << QByteArray(":::STA0.") << 1;
    QTest::newRow("speed 201") << QByteArray("::::STB201.") << 1;
    QTest::newRow("address too long") << QByteArray(":SET_BOARD_ADR=01234.") << 1;
    QTest::newRow("address not hex") << QByteArray(":SET_BOARD_ADR=01G3.") << 1;
    QTest::newRow("not ASCII in a command") << QByteArray(":::ZAV\xb5"
                                                          "B.")
                                            << 1;
    QTest::newRow("not ASCII between") << QByteArray("\xff\xfe\x00\x80", 4) << 1;
    QTest::newRow("status inside a word") << QByteArray(":::ZAVG.") << 1;
    QTest::newRow("each failure once") << QByteArray("x:::ZAVB1X.yy:::.z") << 5;
}

void TestSimParser::badInputIsRefusedCountedAndChangesNothing()
{
    QFETCH(QByteArray, input);
    QFETCH(int, rejections);
    SimulatedController controller({.acknowledge = true});
    QCOMPARE(controller.receive(":::ZAVC.:SET_BOARD_ADR=0042.", 0), QByteArray("OK\r\nOK\r\n"));
    const QByteArray replies = controller.receive(input, 0);
    QCOMPARE(controller.rejected(), rejections);
    QCOMPARE(replies.count("ERR\r\n"), rejections);
    if (input == ":::ZAVA:::ZAVB3.") {
        QCOMPARE(letters(controller), "BBBA" + repeated("B", 28));
        return;
    }
    QCOMPARE(controller.accepted(), 2);
    QCOMPARE(letters(controller), repeated("C", 32));
    QCOMPARE(controller.model().boardAddress(), std::optional<std::uint16_t>(0x42));
    QCOMPARE(controller.model().timing().flashHalfPeriodMs, 500);
    // The line is usable again at once.
    QCOMPARE(controller.receive(":::ZAVB.", 0), QByteArray("OK\r\n"));
}

void TestSimParser::lengthLimitIs128BytesWithColonsAndStop()
{
    // 128 bytes: 100 colons, "ZAVB" and 23 more body bytes, '.'.
    const QByteArray body = "ZAVB1,3,5,7,9,11,13,15,1";
    QCOMPARE(body.size(), 24);
    const QByteArray longest = QByteArray(103, ':') + body + '.';
    QCOMPARE(longest.size(), 128);
    SimulatedController controller(channels32());
    controller.receive(longest, 0);
    QCOMPARE(controller.accepted(), 1);
    QCOMPARE(letters(controller), "BABABABABABABABA" + repeated("B", 16));

    controller.receive(":" + longest, 0); // 129 bytes
    controller.receive(QByteArray(200, ':') + "ZAVA.", 0);
    controller.receive(":" + QByteArray(300, '1') + ":::ZAVZ0A.", 0);
    QCOMPARE(controller.rejected(), 3);
    QCOMPARE(controller.accepted(), 2);
    QCOMPARE(letters(controller), "AABABABABABABABA" + repeated("B", 16));
}

void TestSimParser::acknowledgementsAndDrops()
{
    SimulatedController acking({.acknowledge = true});
    QCOMPARE(acking.receive(":::ZAVA.", 0), QByteArray("OK\r\n"));
    QCOMPARE(acking.receive(":::ZAVB1X.", 0), QByteArray("ERR\r\n"));
    QCOMPARE(acking.receive("\r\n:::G", 0), "G:" + repeated("A", 32) + "\r\n");

    SimulatedController quiet(channels32());
    QCOMPARE(quiet.receive(":::ZAVA.:::ZAVB1X.", 0), QByteArray());

    SimulatedController deaf({.acknowledge = true, .dropPercent = 100});
    QCOMPARE(deaf.receive(":::ZAVA.:::G", 0), QByteArray());
    QCOMPARE(deaf.dropped(), 2);
    QCOMPARE(letters(deaf), repeated("B", 32));

    SimulatedController lossy({.dropPercent = 30, .seed = 7});
    for (int i = 0; i < 1000; ++i)
        lossy.receive(":::ZAVZ0Y.", 0);
    QCOMPARE(lossy.accepted() + lossy.dropped(), 1000);
    QVERIFY2(lossy.dropped() > 200 && lossy.dropped() < 400,
             qPrintable(QString::number(lossy.dropped())));
}

void TestSimParser::relaysIgnoreDimmingAndYOnlyInvertsOnAndOff()
{
    SimulatedController controller({.channels = 8, .relays = {2, 3, 40}});
    controller.receive(":::ZAVA.:::ZAVZ0-7c.", 0);
    QCOMPARE(letters(controller), QByteArray("ccAAcccc"));
    controller.receive(":::ZAVZ0-7h.", 0);
    QCOMPARE(letters(controller), QByteArray("hhAAhhhh"));
    QVERIFY(controller.model().isRelay(2) && !controller.model().isRelay(1));
    controller.receive(":::ZAVZ0C,1D,2B,3A,4E.", 0);
    controller.receive(":::ZAVZ0-7Y.", 0);
    QCOMPARE(letters(controller), QByteArray("CDABEhhh"));
    QCOMPARE(controller.rejected(), 0);
}

void TestSimParser::effectsFollowTheControllerClock()
{
    SimulatedController controller({.channels = 12});
    controller.receive(":::ZAVB0CD,2EFG,5OPQ,8N,9h.", 1000);
    const ControllerModel& model = controller.model();
    auto levels = [&](std::int64_t now) {
        QList<int> out;
        for (int i = 0; i < 10; ++i)
            out.append(channelLevel(model.channel(i), model.timing(), now));
        return out;
    };
    // Flash halves of 500 ms, running steps of 300 ms, a fade of 1 s from dark.
    QCOMPARE(levels(1000), (QList<int>{100, 0, 100, 0, 0, 100, 0, 100, 100, 0}));
    QCOMPARE(levels(1250), (QList<int>{100, 0, 0, 100, 0, 100, 100, 0, 100, 25}));
    QCOMPARE(levels(1500), (QList<int>{0, 100, 0, 0, 100, 0, 100, 100, 0, 50}));
    QCOMPARE(levels(1800), (QList<int>{0, 100, 100, 0, 0, 100, 0, 100, 0, 80}));
    QCOMPARE(levels(2100), (QList<int>{100, 0, 0, 100, 0, 100, 100, 0, 100, 100}));
    // N: three flashes of on and off, then on for good.
    QList<int> n;
    for (std::int64_t t = 1000; t < 5000; t += 500)
        n.append(channelLevel(model.channel(8), model.timing(), t));
    QCOMPARE(n, (QList<int>{100, 0, 100, 0, 100, 0, 100, 100}));
    // i fades down from where h had got to.
    controller.receive(":::ZAVZ9i.", 1600);
    QCOMPARE(channelLevel(model.channel(9), model.timing(), 1600), 60);
    QCOMPARE(channelLevel(model.channel(9), model.timing(), 2000), 20);
    QCOMPARE(channelLevel(model.channel(9), model.timing(), 9000), 0);
}

QTEST_GUILESS_MAIN(TestSimParser)
#include "tst_sim_parser.moc"
