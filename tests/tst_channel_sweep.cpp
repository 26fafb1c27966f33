#include "commands/channel_sweep.h"
#include "fake_sweep_host.h"

#include <QTest>

// The timed sweep, one tick at a time, against boxes held as plain strings.
class TestChannelSweep : public QObject {
    Q_OBJECT

private slots:
    void workedSequence_data();
    void workedSequence();
    void cycles_data();
    void cycles();
    void boxesReadAtEveryStep();
    void limits_data();
    void limits();
    void intervalFromText_data();
    void intervalFromText();
};

void TestChannelSweep::workedSequence_data()
{
    QTest::addColumn<int>("tick");
    QTest::addColumn<int>("channelAfter");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("display");

    // The first cycle begins at 1: the counter starts at 0 and is advanced before use.
    QTest::newRow("tick 1") << 1 << 1 << ":::::::::::ZAVB1."
                            << "1";
    QTest::newRow("tick 31") << 31 << 31 << ":::::::::::ZAVB31."
                             << "31";
    QTest::newRow("tick 32 wraps") << 32 << -1 << ":::ZAVB."
                                   << "31";
    QTest::newRow("tick 33") << 33 << 0 << ":::::::::::ZAVB0."
                             << "0";
    QTest::newRow("tick 34") << 34 << 1 << ":::::::::::ZAVB1."
                             << "1";
    QTest::newRow("tick 64") << 64 << 31 << ":::::::::::ZAVB31."
                             << "31";
    QTest::newRow("tick 65 wraps") << 65 << -1 << ":::ZAVB."
                                   << "31";
}

void TestChannelSweep::workedSequence()
{
    QFETCH(int, tick);
    QFETCH(int, channelAfter);
    QFETCH(QString, command);
    QFETCH(QString, display);

    FakeSweepHost host;
    ChannelSweep sweep;
    for (int i = 0; i < tick; ++i)
        sweep.step(host);

    QCOMPARE(host.sent.size(), tick);
    QCOMPARE(host.sent.last(), command);
    QCOMPARE(int(sweep.currentChannel()), channelAfter);
    QCOMPARE(host.channelDisplay, display);
}

void TestChannelSweep::cycles_data()
{
    QTest::addColumn<QString>("startChannel");
    QTest::addColumn<QString>("endChannel");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("displays"); // current channel box after each tick

    const QString end = QStringLiteral(":::ZAVB.");

    QTest::newRow("empty end alternates")
        << "0"
        << ""
        << ":::::::::::ZAVB" << QStringList{end, ":::::::::::ZAVB0.", end, ":::::::::::ZAVB0."}
        << QStringList{"XXX", "0", "0", "0"};
    QTest::newRow("start above end only wraps")
        << "5"
        << "3"
        << "Z" << QStringList{"Z1.", "Z2.", "Z3.", end, end, end}
        << QStringList{"1", "2", "3", "3", "3", "3"};
    QTest::newRow("negative start") << "-2"
                                    << "0"
                                    << "Z" << QStringList{end, "Z-2.", "Z-1.", "Z0.", end}
                                    << QStringList{"XXX", "-2", "-1", "0", "0"};
    QTest::newRow("start 2.5 begins at 3")
        << "2.5"
        << "4"
        << "Z" << QStringList{"Z1.", "Z2.", "Z3.", "Z4.", end, "Z3.", "Z4."}
        << QStringList{"1", "2", "3", "4", "4", "3", "4"};
    QTest::newRow("start 3.5 begins at 3")
        << "3.5"
        << "4"
        << "Z" << QStringList{"Z1.", "Z2.", "Z3.", "Z4.", end, "Z3.", "Z4."}
        << QStringList{"1", "2", "3", "4", "4", "3", "4"};
    QTest::newRow("fractional end rounds down")
        << "0"
        << "2.9"
        << "Z" << QStringList{"Z1.", "Z2.", end, "Z0.", "Z1.", "Z2.", end}
        << QStringList{"1", "2", "2", "0", "1", "2", "2"};
    QTest::newRow("empty prefix") << "0"
                                  << "1"
                                  << "" << QStringList{"1.", end, "0.", "1."}
                                  << QStringList{"1", "1", "0", "1"};
}

void TestChannelSweep::cycles()
{
    QFETCH(QString, startChannel);
    QFETCH(QString, endChannel);
    QFETCH(QString, prefix);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, displays);

    FakeSweepHost host;
    host.startChannel = startChannel;
    host.endChannel = endChannel;
    host.prefix = prefix;
    ChannelSweep sweep;
    QStringList shown;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        sweep.step(host);
        shown.append(host.channelDisplay);
    }

    QCOMPARE(host.sent, commands);
    QCOMPARE(shown, displays);
}

void TestChannelSweep::boxesReadAtEveryStep()
{
    FakeSweepHost host;
    ChannelSweep sweep;

    sweep.step(host);
    QCOMPARE(host.sent.last(), QStringLiteral(":::::::::::ZAVB1."));

    host.prefix.clear();
    sweep.step(host);
    QCOMPARE(host.sent.last(), QStringLiteral("2."));

    // End lowered below the counter: the next step wraps, with the start and end command of now.
    host.endChannel = QStringLiteral("1");
    host.startChannel = QStringLiteral("7");
    host.endCommand = QStringLiteral("X");
    sweep.step(host);
    QCOMPARE(host.sent.last(), QStringLiteral("X"));
    QCOMPARE(host.channelDisplay, QStringLiteral("2"));

    host.endChannel = QStringLiteral("100");
    sweep.step(host);
    QCOMPARE(host.sent.last(), QStringLiteral("7."));
    QCOMPARE(host.sent.size(), 4);
}

void TestChannelSweep::limits_data()
{
    QTest::addColumn<QString>("startChannel");
    QTest::addColumn<QString>("endChannel");
    QTest::addColumn<QStringList>("commands"); // after a first tick that wraps to the start
    QTest::addColumn<int>("channelAfter");

    const QString end = QStringLiteral(":::ZAVB.");

    // No channel after 32767: that step wraps instead of overflowing.
    QTest::newRow("counter at the top")
        << "32767"
        << "32767" << QStringList{"Z32767.", end, "Z32767.", end} << 32766;
    QTest::newRow("counter at the top, infinite end")
        << "32767"
        << "1e400" << QStringList{"Z32767.", end, "Z32767."} << 32767;
    // A wrap value outside 16 bits is clamped.
    QTest::newRow("start above 16 bits") << "40000"
                                         << "1e400" << QStringList{end, end} << 32767;
    QTest::newRow("start infinite") << "1e400"
                                    << "1e400" << QStringList{end, end} << 32767;
    QTest::newRow("start below 16 bits") << "-40000"
                                         << "0" << QStringList{"Z-32767.", "Z-32766."} << -32766;
}

void TestChannelSweep::limits()
{
    QFETCH(QString, startChannel);
    QFETCH(QString, endChannel);
    QFETCH(QStringList, commands);
    QFETCH(int, channelAfter);

    FakeSweepHost host;
    host.prefix = QStringLiteral("Z");
    host.startChannel = startChannel;
    host.endChannel = QStringLiteral("-1e400");
    ChannelSweep sweep;
    sweep.step(host);
    host.sent.clear();

    host.endChannel = endChannel;
    for (qsizetype i = 0; i < commands.size(); ++i)
        sweep.step(host);

    QCOMPARE(host.sent, commands);
    QCOMPARE(int(sweep.currentChannel()), channelAfter);
}

void TestChannelSweep::intervalFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("interval");

    QTest::newRow("design-time") << "200" << 200;
    QTest::newRow("empty stops ticks") << "" << 0;
    QTest::newRow("rounds below half") << "0.4" << 0;
    QTest::newRow("half to even down") << "2.5" << 2;
    QTest::newRow("half to even up") << "3.5" << 4;
    QTest::newRow("largest") << "65535" << 65535;
    QTest::newRow("above largest") << "65536" << 65535;
    QTest::newRow("beyond 32 bits") << "1e10" << 65535;
    QTest::newRow("infinite") << "1e400" << 65535;
    QTest::newRow("negative") << "-5" << 0;
    QTest::newRow("hex all ones is -1") << "&HFFFF" << 0;
}

void TestChannelSweep::intervalFromText()
{
    QFETCH(QString, text);
    QFETCH(int, interval);
    QCOMPARE(ChannelSweep::intervalFromText(text), interval);
}

QTEST_GUILESS_MAIN(TestChannelSweep)
#include "tst_channel_sweep.moc"
