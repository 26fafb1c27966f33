// Lightbench against the simulated controllers, end to end on real pseudo-terminals: the window's
// timed and fast sweeps and its read-status preset, with the controllers in this process; and
// the lightbench-sim program itself, whose controllers vanish and come back at their links.
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/port_status.h"
#include "simulator/simulated_port.h"
#include "window_bench.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Simulated controllers with 32 channels behind links in a private folder, and the window bound
// to them as ports 1 to n, opened once.
struct Rig {
    explicit Rig(int count)
    {
        for (int number = 1; number <= count; ++number) {
            ports.push_back(std::make_unique<SimulatedPort>(
                number, SimulatedController::Options{},
                folder.filePath(QStringLiteral("port%1").arg(number)), 0));
            if (!ports.back()->open())
                qWarning("simulated port %d: %s", number, qPrintable(ports.back()->error()));
            bindings.insert(number, ports.back()->bindingPath());
        }
        bench = std::make_unique<WindowBench>(bindings);
        bench->form.openingPass();
    }
    Form1& form() { return bench->form; }
    const SimulatedController& controller(int index) { return ports[size_t(index)]->controller(); }
    QByteArray letters(int index) const
    {
        const QByteArray line = ports[size_t(index)]->controller().model().statusLine();
        return line.mid(2, line.size() - 4);
    }

    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimulatedPort>> ports;
    QMap<int, QString> bindings;
    std::unique_ptr<WindowBench> bench;
};

QByteArray onlyOn(int channel)
{
    QByteArray letters(32, 'B');
    if (channel >= 0)
        letters[channel] = 'A';
    return letters;
}

} // namespace

class TestSimEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void timedSweepLightsOneChannelAfterAnother();
    void fastSweepLeavesItsLastRangeOn();
    void readStatusPresetBringsTheStateIntoTheLog();
    void vanishingControllersGoGrayAndComeBackGreen();
};

void TestSimEndToEnd::timedSweepLightsOneChannelAfterAnother()
{
    Rig rig(2);
    QCOMPARE(rig.form().statusLabel(1)->foreColor(), PortStatusColour::Green);
    // The first cycle begins at channel 1; after 31 the end command puts all off, then 0, 1...
    const QList<int> expected = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                 25, 26, 27, 28, 29, 30, 31, -1, 0,  1,  2};
    for (int step = 0; step < expected.size(); ++step) {
        rig.form().sweepStep();
        for (int port = 0; port < 2; ++port) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.controller(port).accepted(), step + 1, 5000);
            QCOMPARE(rig.letters(port), onlyOn(expected[step]));
        }
    }
    QCOMPARE(rig.controller(0).rejected(), 0);
    QCOMPARE(rig.controller(1).lastCommand(), QByteArray("ZAVB2"));
}

void TestSimEndToEnd::fastSweepLeavesItsLastRangeOn()
{
    Rig rig(3);
    Form1& form = rig.form();
    // Started by a click through the event system, stopped by another once every controller has
    // taken 80 commands (more than a whole cycle), as the operator would click.
    bool clicked = false;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, &form, [&] {
        bool enough = true;
        for (int port = 0; port < 3; ++port)
            enough = enough && rig.controller(port).accepted() >= 80;
        if (enough && !clicked) {
            clicked = true;
            QMetaObject::invokeMethod(&form, &Form1::clickFastSweep, Qt::QueuedConnection);
        }
    });
    watcher.start(1);
    QMetaObject::invokeMethod(&form, &Form1::clickFastSweep, Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(clicked, 20000);
    watcher.stop();
    // Until all three have taken the same number of commands and nothing more arrives.
    qint64 settled = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const qint64 now = rig.controller(0).accepted();
            const bool same = now == rig.controller(1).accepted() &&
                              now == rig.controller(2).accepted() && now == settled;
            settled = now;
            return same;
        }(),
        10000);

    const QByteArray last = rig.controller(0).lastCommand();
    QByteArray expected(32, 'B');
    if (last != "ZAVB") {
        QVERIFY2(last.startsWith("ZAVB") && last.contains('-'), last.constData());
        const int first = last.mid(4, last.indexOf('-') - 4).toInt();
        QCOMPARE(last, "ZAVB" + QByteArray::number(first) + "-" + QByteArray::number(first + 60));
        for (int channel = first; channel < 32; ++channel)
            expected[channel] = 'A';
    }
    for (int port = 0; port < 3; ++port) {
        QCOMPARE(rig.controller(port).rejected(), 0);
        QCOMPARE(rig.controller(port).lastCommand(), last);
        QCOMPARE(rig.letters(port), expected);
    }
}

void TestSimEndToEnd::readStatusPresetBringsTheStateIntoTheLog()
{
    Rig rig(1);
    Form1& form = rig.form();
    form.SendToAllPorts(QStringLiteral(":::ZAVB5."));
    form.clickPreset(6); // 读状态, ":::G"
    form.receivePollTimer()->setEnabled(true);
    QTRY_COMPARE_WITH_TIMEOUT(form.receiveLog()->text(),
                              QStringLiteral("G:BBBBBABBBBBBBBBBBBBBBBBBBBBBBBBB\r\n"), 5000);
    form.clickPreset(0); // 全部亮
    form.clickPreset(6);
    QTRY_VERIFY_WITH_TIMEOUT(form.receiveLog()->text().endsWith(
                                 QStringLiteral("G:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n")),
                             5000);
    QCOMPARE(rig.controller(0).accepted(), 4);
}

void TestSimEndToEnd::vanishingControllersGoGrayAndComeBackGreen()
{
    QTemporaryDir folder;
    QProcess simulator;
    simulator.start(qEnvironmentVariable("LIGHTBENCH_SIM_PROGRAM"),
                    {QStringLiteral("--headless"), QStringLiteral("--controllers"),
                     QStringLiteral("2"), QStringLiteral("--link"), folder.path(),
                     QStringLiteral("--vanish"), QStringLiteral("1.5")});
    QVERIFY(simulator.waitForStarted());
    QByteArray printed;
    QTRY_VERIFY_WITH_TIMEOUT((printed += simulator.readAllStandardOutput()).count('\n') == 2,
                             10000);
    const QString link2 = folder.filePath(QStringLiteral("port2"));
    QCOMPARE(printed,
             ("--port 1=" + folder.filePath(QStringLiteral("port1")) + "\n--port 2=" + link2 + "\n")
                 .toLocal8Bit());

    WindowBench bench({{2, link2}});
    auto colourAfterPass = [&] {
        bench.form.openingPass();
        return bench.form.statusLabel(1)->foreColor();
    };
    QCOMPARE(colourAfterPass(), PortStatusColour::Green);
    QTRY_COMPARE_WITH_TIMEOUT(colourAfterPass(), PortStatusColour::LightGray, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(colourAfterPass(), PortStatusColour::Green, 10000);
    // The controller behind the new device answers.
    bench.form.SendToAllPorts(QStringLiteral(":::ZAVZ3A.:::G"));
    bench.form.receivePollTimer()->setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(bench.form.receiveLog()->text().contains(
                                 QStringLiteral("G:BBBABBBBBBBBBBBBBBBBBBBBBBBBBBBB\r\n")),
                             5000);

    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo::exists(link2) && !QFileInfo(link2).isSymLink());
}

QTEST_MAIN(TestSimEndToEnd)
#include "tst_sim_end_to_end.moc"
