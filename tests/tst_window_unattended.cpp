// The status check inside the window: while it waits for answers nothing else reaches the ports,
// and the sweeps go on exactly where they stood. The test plays the controllers on ptys.
#include "commands/fast_sweep.h"
#include "main_window/command_button.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/status_tool_tip.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "pty_peer.h"
#include "session_log/local_timestamp.h"
#include "unattended_run/run_record.h"
#include "unattended_run/status_check.h"
#include "window_bench.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

// The commands of a stream, in order: ":::G" or a run of colons, a body and ".".
QStringList commandsOf(const QByteArray& stream)
{
    static const QRegularExpression kCommand(QStringLiteral(":+(G|[^:.]*\\.)"));
    QStringList commands;
    for (const auto& match : kCommand.globalMatch(QString::fromLatin1(stream)))
        commands.append(match.captured());
    return commands;
}

} // namespace

class TestWindowUnattended : public QObject {
    Q_OBJECT
private slots:
    void timedTicksInTheWaitAreSkippedAndPressesWait();
    void fastSweepCarriesOnAroundTheQueries();
};

void TestWindowUnattended::timedTicksInTheWaitAreSkippedAndPressesWait()
{
    PtyPeer one, two;
    WindowBench bench({{1, one.linkPath()}, {2, two.linkPath()}});
    Form1& form = bench.form;
    form.Timer3_Timer();
    RunRecord record(wallClockMs(), wallClockMs);
    StatusCheck check(form.portBank(), record, {0, 300, std::nullopt},
                      [&] { return form.Text1[6]->text(); });

    form.Text8->setText(QStringLiteral("20"));
    form.Command4_Click();
    QByteArray wire;
    QTRY_VERIFY((wire += one.readAvailable()).count('.') >= 3);
    form.Command4_Click(); // stopped for a moment, so that the query follows a whole command
    wire += one.readAvailable(50);
    const QString before = form.Text9->text();
    form.Command4_Click();

    // Nobody answers: the check waits its whole timeout while the sweep ticks on.
    QByteArray atVerdict;
    QString channelAtVerdict;
    connect(&check, &StatusCheck::judged, this, [&](const CheckJudgement& judgement) {
        QCOMPARE(judgement.outcomes[0], CheckJudgement::Outcome::Missed);
        channelAtVerdict = form.Text9->text();
        atVerdict = one.readAvailable();
    });
    check.runCheck();
    QVERIFY(check.isWaiting());
    form.Text1[0]->setText(QStringLiteral(":::ZAVA."));
    form.Command1[0]->click();
    QCOMPARE(one.readAvailable(100), QByteArray(":::G")); // nothing but the query meanwhile
    QTRY_VERIFY(!check.isWaiting());

    // No tick ran in the wait; the press was sent when it ended, alone, not with a burst.
    QCOMPARE(channelAtVerdict, before);
    QCOMPARE(atVerdict, QByteArray(":::ZAVA."));
    const QByteArray next = ":::::::::::ZAVB" + QByteArray::number(before.toInt() + 1) + ".";
    QCOMPARE(one.readExactly(next.size()), next);
    QCOMPARE(record.port(0).missedCount(), 1u);
    QCOMPARE(record.port(1).missedCount(), 1u);
    QCOMPARE(record.port(2).checks(), 0u); // nothing bound
}

// Three ports under the fast sweep, checked every 100 ms; port 3 answers unlike the other two.
void TestWindowUnattended::fastSweepCarriesOnAroundTheQueries()
{
    PtyPeer peers[3];
    WindowBench bench(
        {{1, peers[0].linkPath()}, {2, peers[1].linkPath()}, {3, peers[2].linkPath()}});
    Form1& form = bench.form;
    form.Timer3_Timer();
    RunRecord record(wallClockMs(), wallClockMs);
    StatusCheck check(form.portBank(), record, {100, 1000, std::nullopt},
                      [&] { return form.Text1[6]->text(); });

    QByteArray streams[3];
    int judged = 0;
    QTimer controllers;
    connect(&controllers, &QTimer::timeout, this, [&] {
        for (int i = 0; i < 3; ++i) {
            const qsizetype queries = streams[i].count(":::G");
            streams[i] += peers[i].readAvailable();
            if (streams[i].count(":::G") > queries)
                peers[i].write(i == 2 ? "G:NO\r\n" : "G:BB\r\nG:OK\r\n");
        }
    });
    connect(&check, &StatusCheck::judged, this, [&] {
        if (++judged == 3) {
            check.stop();
            form.Command6_Click(); // off: the running loop ends at its next test
        }
        // Nothing was sent in the wait, and nothing piled up to be sent at its end.
        streams[0] += peers[0].readAvailable();
        QVERIFY(streams[0].endsWith(":::G"));
    });
    controllers.start(1);
    check.start();
    form.Command6_Click(); // runs until the third verdict
    QTRY_COMPARE((streams[0] += peers[0].readAvailable()).count(":::G"), 3);

    // Every port got the same stream: the sweep's commands in their order, the queries between.
    streams[1] += peers[1].readAvailable(100);
    streams[2] += peers[2].readAvailable(100);
    QCOMPARE(streams[1], streams[0]);
    QCOMPARE(streams[2], streams[0]);
    QStringList sweep = commandsOf(streams[0]);
    QCOMPARE(sweep.join(QString()).toLatin1(), streams[0]);
    QCOMPARE(sweep.removeAll(QStringLiteral(":::G")), 3);
    QVERIFY(sweep.size() > 40);
    for (int n = 0; n < sweep.size(); ++n) {
        const int m = n < 31 ? n + 1 : (n - 31) % 33 - 1; // 1..31, end, then 0..31, end...
        QCOMPARE(sweep[n], m < 0 ? QStringLiteral(":::ZAVB.") : FastSweep::rangeCommand(m));
    }

    // The last line counts; port 3 alone differs; the answers still reach the receive log.
    QCOMPARE(record.port(0).differedCount(), 0u);
    QCOMPARE(record.port(1).differedCount(), 0u);
    QCOMPARE(record.port(2).differedCount(), 3u);
    QCOMPARE(record.port(2).checks(), 3u);
    form.setToolTipExtra([&](int index) {
        const PortRunRecord& port = record.port(index);
        return checkCountsText(port.checks(), port.missedCount(), port.differedCount());
    });
    form.Timer2_Timer();
    QVERIFY(form.Text4->text().contains(QStringLiteral("G:NO\r\n")));
    QVERIFY(form.Label9[2]->toolTip().endsWith(QStringLiteral(", 查询 3 次, 未应答 0, 不一致 3")));
}

QTEST_MAIN(TestWindowUnattended)
#include "tst_window_unattended.moc"
