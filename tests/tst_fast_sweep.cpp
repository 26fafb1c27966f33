#include "commands/fast_sweep.h"
#include "fake_sweep_host.h"

#include <QTest>

// The fast sweep's loop. Clicks that arrive while it yields are played by calling click()
// from inside the yield, as the window's event processing would.
class TestFastSweep : public QObject {
    Q_OBJECT

private slots:
    void workedSequence_data();
    void workedSequence();
    void restartContinues();
    void twoClicksInOneYield();
    void programEnding_data();
    void programEnding();
    void boxesReadAtEveryStep();
    void sendsWhatThePrefixBoxHolds();
    void limits_data();
    void limits();
};

namespace {

const QString kEnd = QStringLiteral(":::ZAVB.");

// A range command as it goes on the line: nineteen colons, ZAVB, the first channel, "-", the
// channel 60 above it and ".".
QString rangeCommandOf(int first)
{
    return QStringLiteral(":::::::::::::::::::ZAVB%1-%2.").arg(first).arg(first + 60);
}

// Lets the loop run `steps` fast steps, then clicks once inside the last yield.
void runSteps(FastSweep& sweep, FakeSweepHost& host, int steps)
{
    const int stopAt = host.yields + steps;
    host.onYield = [&](int yields) {
        if (yields == stopAt)
            sweep.click(host);
        return true;
    };
    sweep.click(host);
}

} // namespace

void TestFastSweep::workedSequence_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("channelAfter");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("prefixShown");

    const QString last = QStringLiteral(":::::::::::::::::::ZAVB31-91.");
    QTest::newRow("step 1") << 1 << 1 << ":::::::::::::::::::ZAVB1-61."
                            << ":::::::::::::::::::ZAVB1-61.";
    QTest::newRow("step 31") << 31 << 31 << last << last;
    QTest::newRow("step 32 wraps, the prefix box keeps the last range") << 32 << -1 << kEnd << last;
    QTest::newRow("step 33") << 33 << 0 << ":::::::::::::::::::ZAVB0-60."
                             << ":::::::::::::::::::ZAVB0-60.";
    QTest::newRow("step 34") << 34 << 1 << ":::::::::::::::::::ZAVB1-61."
                             << ":::::::::::::::::::ZAVB1-61.";
}

void TestFastSweep::workedSequence()
{
    QFETCH(int, step);
    QFETCH(int, channelAfter);
    QFETCH(QString, command);
    QFETCH(QString, prefixShown);

    FakeSweepHost host;
    FastSweep sweep;
    int channelAtStep = 0;
    host.onYield = [&](int yields) {
        if (yields == step) {
            channelAtStep = sweep.fastChannel();
            sweep.click(host); // handled in the yield: switches the sweep off
        }
        return true;
    };
    sweep.click(host);

    QCOMPARE(host.sent.size(), step); // the stopping click sent nothing
    QCOMPARE(host.sent.last(), command);
    QCOMPARE(host.prefixWhenSent.last(), prefixShown);
    QCOMPARE(channelAtStep, channelAfter);
    QCOMPARE(host.flag, QStringLiteral("0"));
    QCOMPARE(host.channelDisplayWrites, 0);
    QCOMPARE(host.channelDisplay, QStringLiteral("XXX"));
}

void TestFastSweep::restartContinues()
{
    FakeSweepHost host;
    FastSweep sweep;
    runSteps(sweep, host, 12);
    QCOMPARE(int(sweep.fastChannel()), 12);
    QCOMPARE(host.sent.size(), 12);

    runSteps(sweep, host, 1);
    QCOMPARE(host.sent.size(), 13);
    QCOMPARE(host.sent.last(), QStringLiteral(":::::::::::::::::::ZAVB13-73."));
    // After the sweep, the prefix box keeps the last range command.
    QCOMPARE(host.prefix, QStringLiteral(":::::::::::::::::::ZAVB13-73."));
}

void TestFastSweep::twoClicksInOneYield()
{
    FakeSweepHost host;
    FastSweep sweep;
    int depth = 0;
    QList<int> depthAtYield;
    auto click = [&] {
        ++depth;
        sweep.click(host);
        --depth;
    };
    host.onYield = [&](int yields) {
        depthAtYield.append(depth);
        if (yields == 3) {
            click(); // off
            click(); // on again: a loop of its own, inside this yield
        } else if (yields == 6) {
            click(); // ends the inner loop; the outer one then finds "0"
        }
        return true;
    };
    click();

    // Only the innermost loop advanced, continuing the shared counter; the outer sent no more.
    QStringList expected;
    for (int m = 1; m <= 6; ++m)
        expected.append(rangeCommandOf(m));
    QCOMPARE(host.sent, expected);
    QCOMPARE(depthAtYield, (QList<int>{1, 1, 1, 2, 2, 2}));
    QCOMPARE(host.flag, QStringLiteral("0"));
    QCOMPARE(depth, 0);
}

void TestFastSweep::programEnding_data()
{
    QTest::addColumn<bool>("nested");
    QTest::addColumn<int>("expectedSent");

    QTest::newRow("one loop") << false << 5;
    QTest::newRow("nested loops") << true << 5;
}

void TestFastSweep::programEnding()
{
    QFETCH(bool, nested);
    QFETCH(int, expectedSent);

    FakeSweepHost host;
    FastSweep sweep;
    host.onYield = [&](int yields) {
        if (nested && yields == 2) {
            sweep.click(host);
            sweep.click(host); // inner loop, ended by the program below
            return true;       // the outer loop's yield itself seems fine
        }
        return yields != 5;
    };
    sweep.click(host);

    QCOMPARE(host.sent.size(), expectedSent);
    QCOMPARE(host.yields, expectedSent);

    // The program is going: a late click must not start anything.
    host.onYield = nullptr;
    sweep.click(host);
    sweep.click(host);
    QCOMPARE(host.sent.size(), expectedSent);
}

void TestFastSweep::boxesReadAtEveryStep()
{
    FakeSweepHost host;
    FastSweep sweep;
    host.onYield = [&](int yields) {
        switch (yields) {
        case 2: // edits made during a yield apply to the next fast step
            host.endChannel = QStringLiteral("1");
            host.startChannel = QStringLiteral("10");
            host.endCommand = QStringLiteral("X");
            host.prefix = QStringLiteral("typed by the operator");
            break;
        case 3:
            host.endChannel = QStringLiteral("100");
            break;
        case 5:
            sweep.click(host);
            break;
        }
        return true;
    };
    sweep.click(host);

    const QStringList expected{rangeCommandOf(1), rangeCommandOf(2), "X", rangeCommandOf(10),
                               rangeCommandOf(11)};
    QCOMPARE(host.sent, expected);
    // The wrap left the operator's edit of the prefix box alone; the next range command replaced
    // it.
    QCOMPARE(host.prefixWhenSent.at(2), QStringLiteral("typed by the operator"));
    QCOMPARE(host.prefix, rangeCommandOf(11));
}

void TestFastSweep::sendsWhatThePrefixBoxHolds()
{
    // The command goes out as the prefix box holds it after the write, not as it was built.
    FakeSweepHost host;
    host.prefixMaxLength = 25;
    FastSweep sweep;
    runSteps(sweep, host, 1);
    QCOMPARE(host.sent, QStringList{":::::::::::::::::::ZAVB1-"});
}

void TestFastSweep::limits_data()
{
    QTest::addColumn<QString>("startChannel");
    QTest::addColumn<QString>("endChannel");
    QTest::addColumn<QStringList>("commands"); // after a first step that wraps to the start

    QTest::newRow("empty end alternates")
        << "0"
        << "" << QStringList{":::::::::::::::::::ZAVB0-60.", kEnd};
    QTest::newRow("last range that fits 16 bits")
        << "32707"
        << "40000"
        << QStringList{":::::::::::::::::::ZAVB32707-32767.", kEnd,
                       ":::::::::::::::::::ZAVB32707-32767."};
    QTest::newRow("no range above 32707") << "32708"
                                          << "40000" << QStringList{kEnd, kEnd};
    QTest::newRow("counter at the top") << "32768"
                                        << "1e400" << QStringList{kEnd, kEnd};
    QTest::newRow("start minus infinite") << "-1e400"
                                          << "0"
                                          << QStringList{":::::::::::::::::::ZAVB-32767--32707.",
                                                         ":::::::::::::::::::ZAVB-32766--32706."};
}

void TestFastSweep::limits()
{
    QFETCH(QString, startChannel);
    QFETCH(QString, endChannel);
    QFETCH(QStringList, commands);

    FakeSweepHost host;
    FastSweep sweep;
    host.startChannel = startChannel;
    host.endChannel = QStringLiteral("-1e400");
    host.onYield = [&](int yields) {
        if (yields == 1) {
            host.sent.clear();
            host.endChannel = endChannel;
        }
        if (yields == commands.size() + 1)
            sweep.click(host);
        return true;
    };
    sweep.click(host);

    QCOMPARE(host.sent, commands);
}

QTEST_GUILESS_MAIN(TestFastSweep)
#include "tst_fast_sweep.moc"
