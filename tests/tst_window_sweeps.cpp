// What the bench sends, end to end on a real pseudo-terminal: the timed sweep on its timer, the
// interval box, the fast sweep driven through the window's event system, presets and exit.
#include "commands/command_reference.h"
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"
#include "pty_peer.h"
#include "session_log/session_recording.h"
#include "window_bench.h"

#include <functional>

#include <QtTest>

namespace {

struct Bench : WindowBench {
    explicit Bench(const QMap<int, QString>& ports) : WindowBench(ports) { form.openingPass(); }
};

// Starts the fast sweep with a click through the window's event system and collects what the
// peer receives; once stopWhen() holds, calls `stopSlot` (inside the sweep's own yield, as the
// operator's click would be) and returns everything received once the port has sent it all.
QByteArray runFastSweep(Form1& form, PtyPeer& peer,
                        const std::function<bool(const QByteArray&)>& stopWhen,
                        void (Form1::*stopSlot)())
{
    QByteArray received;
    bool clicked = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, &form, [&] {
        received += peer.readAvailable(0);
        if (!clicked && stopWhen(received)) {
            clicked = true;
            QMetaObject::invokeMethod(&form, stopSlot, Qt::QueuedConnection);
        }
    });
    watcher.start(1);
    QMetaObject::invokeMethod(&form, &Form1::clickFastSweep, Qt::QueuedConnection);
    // The sweep runs inside this wait, so once it returns the sweep has stopped.
    if (!QTest::qWaitFor([&] { return clicked; }, 10000))
        return received;
    if (!QTest::qWaitFor([&] { return form.portBank().port(0).pendingOutput() == 0; }, 10000))
        qWarning("port 1 still holds output after 10 s");
    watcher.stop();
    return received + peer.readAvailable(100);
}

QByteArray timedCycleFromTheStart(int ticks)
{
    QByteArray wire;
    int channel = 0;
    for (int tick = 1; tick <= ticks; ++tick) {
        ++channel;
        if (channel > 31) {
            wire += ":::ZAVB.";
            channel = -1;
        } else {
            wire += ":::::::::::ZAVB" + QByteArray::number(channel) + ".";
        }
    }
    return wire;
}

QByteArray fastCommands(int firstStep, int steps)
{
    QByteArray wire;
    int m = 0;
    for (int step = 1; step < firstStep + steps; ++step) {
        ++m;
        QByteArray command;
        if (m > 31) {
            command = ":::ZAVB.";
            m = -1;
        } else {
            command = ":::::::::::::::::::ZAVB" + QByteArray::number(m) + "-" +
                      QByteArray::number(m + 60) + ".";
        }
        if (step >= firstStep)
            wire += command;
    }
    return wire;
}

} // namespace

class TestWindowSweeps : public QObject {
    Q_OBJECT
private slots:
    void timedSweepSendsTheWorkedSequenceOnItsTimer();
    void intervalBoxSetsBothTimersAsItIsTyped();
    void fastSweepRunsInItsOwnLoopUntilClickedAgain();
    void exitDuringTheFastSweepSendsNothingMore();
    void fastSweepWaitsForASessionLogThatIsBehind();
    void presetsSendTheirBoxesUnchanged();
    void referenceBoxHoldsTheReferenceText();
};

void TestWindowSweeps::timedSweepSendsTheWorkedSequenceOnItsTimer()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.sweepIntervalBox()->setText(QStringLiteral("5"));
    bench.form.openingPassTimer()->setEnabled(false);
    QVERIFY(!bench.form.sweepTimer()->isEnabled());
    bench.form.clickSweep();
    const QByteArray expected = timedCycleFromTheStart(65);
    QCOMPARE(peer.readExactly(expected.size(), 10000), expected);
    bench.form.clickSweep(); // stop
    QVERIFY(!bench.form.sweepTimer()->isEnabled());
    QVERIFY(
        QTest::qWaitFor([&] { return bench.form.portBank().port(0).pendingOutput() == 0; }, 10000));
    QByteArray wire = expected + peer.readAvailable(50);
    QCOMPARE(peer.readAvailable(50), QByteArray());
    // Restarted, it goes on from where it stood: the whole stream stays one sequence.
    const qsizetype before = wire.count("ZAVB");
    bench.form.clickSweep();
    while (wire.count("ZAVB") < before + 3)
        wire += peer.readAvailable(1000);
    bench.form.clickSweep();
    QVERIFY(
        QTest::qWaitFor([&] { return bench.form.portBank().port(0).pendingOutput() == 0; }, 10000));
    wire += peer.readAvailable(50);
    QCOMPARE(wire, timedCycleFromTheStart(int(wire.count("ZAVB"))));
}

void TestWindowSweeps::intervalBoxSetsBothTimersAsItIsTyped()
{
    Bench bench({});
    QList<QPair<int, int>> seen; // opening pass and sweep timers after each keystroke
    connect(bench.form.sweepIntervalBox(), &TextBox::changed, this, [&] {
        seen.append(
            {bench.form.openingPassTimer()->interval(), bench.form.sweepTimer()->interval()});
    });
    bench.form.sweepIntervalBox()->clear();
    QTest::keyClicks(bench.form.sweepIntervalBox(), QStringLiteral("500"));
    QCOMPARE(seen, (QList<QPair<int, int>>{{0, 0}, {5, 5}, {50, 50}, {500, 500}}));
    QVERIFY(!bench.form.sweepTimer()->isEnabled()); // typing does not start the sweep
    bench.form.sweepIntervalBox()->setText(QStringLiteral("99999999999"));
    QCOMPARE(bench.form.sweepTimer()->interval(), 65535);
    bench.form.sweepIntervalBox()->setText(QStringLiteral("-5"));
    QCOMPARE(bench.form.openingPassTimer()->interval(), 0);
}

void TestWindowSweeps::fastSweepRunsInItsOwnLoopUntilClickedAgain()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    const QByteArray expected = fastCommands(1, 40);
    const QByteArray received = runFastSweep(
        bench.form, peer, [&](const QByteArray& got) { return got.size() >= expected.size(); },
        &Form1::clickFastSweep);
    QCOMPARE(bench.form.fastSweepButton()->tag(), QStringLiteral("0"));
    QVERIFY(received.startsWith(expected));
    // The command after the stop is one whole command: nothing torn, nothing after it.
    const int sent = int(received.count("ZAVB"));
    QCOMPARE(received, fastCommands(1, sent));
    QCOMPARE(bench.form.currentChannelBox()->text(),
             QStringLiteral("XXX")); // the fast sweep never shows it
    QVERIFY(bench.form.prefixBox()->text().startsWith(QStringLiteral(":::::::::::::::::::ZAVB")));

    // Switched on again, it continues with the next channel.
    const QByteArray more = runFastSweep(
        bench.form, peer, [](const QByteArray& got) { return !got.isEmpty(); },
        &Form1::clickFastSweep);
    QVERIFY2(more.startsWith(fastCommands(sent + 1, 1)),
             qPrintable(QString("sent %1, then %2").arg(sent).arg(QString(more.left(60)))));
}

void TestWindowSweeps::exitDuringTheFastSweepSendsNothingMore()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    const QByteArray received = runFastSweep(
        bench.form, peer, [](const QByteArray& got) { return got.size() > 1000; },
        &Form1::clickExit);
    QVERIFY(!bench.form.isVisible());
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QCOMPARE(peer.readAvailable(100), QByteArray());
    // What arrived are whole commands of the sequence, the last one included.
    QVERIFY(received.endsWith('.'));
    QCOMPARE(received, fastCommands(1, int(received.count("ZAVB"))));
}

// With a log queue far too small for the sweep, the log still gets every command: the sweep
// waits for the writer rather than have lines turned away.
void TestWindowSweeps::fastSweepWaitsForASessionLogThatIsBehind()
{
    QTemporaryDir dir;
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    SessionRecording::Options options{dir.path(), 1 << 30, {}};
    options.queueLimit = 16 * 20000;
    SessionRecording recording(bench.form.portBank(), options, QDateTime::currentMSecsSinceEpoch());
    const QByteArray received = runFastSweep(
        bench.form, peer, [](const QByteArray& got) { return got.size() > 60000; },
        &Form1::clickFastSweep);
    const RecordingOutcome outcome = recording.finish();
    QCOMPARE(outcome.logLinesLost[0], 0u);
    QFile log(dir.filePath(recording.runName() + QStringLiteral("_port01.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("ZAVB"), received.count("ZAVB"));
}

void TestWindowSweeps::presetsSendTheirBoxesUnchanged()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    // Each button sends its own box's default, in the order pressed.
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 5})
        QTest::mouseClick(bench.form.presetButton(i), Qt::LeftButton);
    const QByteArray defaults(":::ZAVA.:::ZAVB.:::ZAVC.:::ZAVZ0A.:::ZAVZ0B.:::ZAVZ0C.:::G"
                              ":::ZAVB0-5,7-20A.:::ZAVB0-9999(EFG).:::ZAVZ0C.");
    QCOMPARE(peer.readExactly(defaults.size()), defaults);
    bench.form.presetBox(3)->setText(QStringLiteral(":::ZAVZ1A."));
    QTest::mouseClick(bench.form.presetButton(3), Qt::LeftButton);
    QCOMPARE(peer.readExactly(10), QByteArray(":::ZAVZ1A."));
    // Typing, Enter included, sends nothing; blanks and length pass through whole.
    QTest::keyClicks(bench.form.presetBox(4), QStringLiteral(" x"));
    QTest::keyClick(bench.form.presetBox(4), Qt::Key_Return);
    QCOMPARE(peer.readAvailable(100), QByteArray());
    const QString longCommand = QStringLiteral("  :::ZAVB") + QString(200, QLatin1Char('1')) + "  ";
    bench.form.presetBox(8)->setText(longCommand);
    bench.form.clickPreset(8);
    QCOMPARE(peer.readExactly(longCommand.size()), longCommand.toLatin1());
    bench.form.presetBox(2)->setText(QString());
    bench.form.clickPreset(2);
    bench.form.clickPreset(1);
    QCOMPARE(peer.readExactly(8), QByteArray(":::ZAVB."));
}

void TestWindowSweeps::referenceBoxHoldsTheReferenceText()
{
    Bench bench({});
    QCOMPARE(bench.form.referenceBox()->text(), commandReferenceText());
    // Shown with one line per reference line, not two.
    QCOMPARE(bench.form.referenceBox()->document()->blockCount(), 41);
}

QTEST_MAIN(TestWindowSweeps)
#include "tst_window_sweeps.moc"
