// The window against real pseudo-terminals: the opening pass and its status colours, the
// broadcast, a device that goes away and comes back, and the exit button.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"
#include "port_bank/port_errors.h"
#include "port_bank/port_status.h"
#include "pty_peer.h"
#include "window_bench.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Bench : WindowBench {
    explicit Bench(const QMap<int, QString>& ports) : WindowBench(ports) {}
    PortStatus status(int index) const
    {
        return {form.statusLabel(index)->text(), form.statusLabel(index)->foreColor()};
    }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool someoneElseCanLock(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

} // namespace

class TestWindowPorts : public QObject {
    Q_OBJECT
private slots:
    void withNoPortMappedAllSixteenShowLightGray();
    void openPortsTurnGreenAndReceiveEveryBroadcastByteExact();
    void aPortThatTakesNothingMoreDoesNotStarveThePortsAfterIt();
    void handlersPendingWhenAPassStartsRunBetweenItsPorts();
    void aPortHeldElsewhereShowsBlueUntilReleased();
    void aLostDeviceGoesGrayWithoutSpinningAndComesBackGreen();
    void aRefusedSettingsTextStillOpensWithThePreviousSettings();
    void exitReleasesEveryPortAndSendsNothingMore();
    void theCloseBoxEndsTheProgramLikeTheExitButton();
};

void TestWindowPorts::withNoPortMappedAllSixteenShowLightGray()
{
    Bench bench({});
    bench.form.openingPass();
    for (int i = 0; i < 16; ++i)
        QCOMPARE(bench.status(i), (PortStatus{QStringLiteral("串口%1").arg(i + 1), 0xC0C0C0u}));
    bench.form.openingPass();
    QCOMPARE(bench.status(15).rgb, 0xC0C0C0u);
    QVERIFY(bench.form.statusLabel(15)->toolTip().contains(QStringLiteral("无设备")));
}

void TestWindowPorts::openPortsTurnGreenAndReceiveEveryBroadcastByteExact()
{
    PtyPeer one, four;
    QVERIFY(one.isValid() && four.isValid());
    Bench bench({{1, one.linkPath()}, {4, four.linkPath()}});
    bench.form.openingPass();
    QCOMPARE(bench.status(0), (PortStatus{QStringLiteral("串口1"), 0x00FF00u}));
    QCOMPARE(bench.status(3), (PortStatus{QStringLiteral("串口4"), 0x00FF00u}));
    for (int i : {1, 2, 4, 15})
        QCOMPARE(bench.status(i).rgb, 0xC0C0C0u);
    QVERIFY(bench.form.statusLabel(3)->toolTip().contains(four.linkPath()));

    // Nothing added, nothing lost, the same bytes on both.
    const QString command = QStringLiteral(":::ZAVB0-9999(EFG).");
    bench.form.SendToAllPorts(command);
    bench.form.SendToAllPorts(QString());
    bench.form.SendToAllPorts(QStringLiteral(" 全开 "));
    const QByteArray expected =
        QByteArray(":::ZAVB0-9999(EFG).") + QByteArray(" \xc8\xab\xbf\xaa ");
    QCOMPARE(one.readExactly(expected.size()), expected);
    QCOMPARE(four.readExactly(expected.size()), expected);
    QCOMPARE(one.readAvailable(100), QByteArray());

    // A second pass leaves open ports open and green, and sends nothing of its own.
    bench.form.openingPass();
    QCOMPARE(bench.status(0).rgb, 0x00FF00u);
    QCOMPARE(four.readAvailable(100), QByteArray());
}

void TestWindowPorts::aPortThatTakesNothingMoreDoesNotStarveThePortsAfterIt()
{
    PtyPeer one, stuck, four;
    Bench bench({{1, one.linkPath()}, {2, stuck.linkPath()}, {4, four.linkPath()}});
    bench.form.openingPass();
    // Port 2's controller reads nothing: its line and then its queue fill up.
    SerialPort& port2 = bench.form.portBank().port(1);
    const QString chunk(1000, u'x');
    std::int32_t result = PortError::None;
    for (int i = 0; i < 10000 && result == PortError::None; ++i) {
        result = port2.output(chunk);
        QCoreApplication::processEvents();
    }
    QCOMPARE(result, PortError::OutputFull);
    // Topped up to the last byte, so that not even a short command fits any more.
    for (int i = 0; i < 1000 && port2.output(QStringLiteral("y")) == PortError::None; ++i) {
    }
    QCOMPARE(port2.output(QStringLiteral("y")), PortError::OutputFull);

    // Every other port still gets every command, the ones after the full port included.
    bench.form.SendToAllPorts(QStringLiteral(":::ZAVA."));
    bench.form.clickPreset(1);
    QCOMPARE(one.readExactly(16), QByteArray(":::ZAVA.:::ZAVB."));
    QCOMPARE(four.readExactly(16), QByteArray(":::ZAVA.:::ZAVB."));
    // The full port is not given up on: it stays open and green.
    QVERIFY(port2.isOpen());
    bench.form.openingPass();
    QCOMPARE(bench.status(1), (PortStatus{QStringLiteral("串口2"), 0x00FF00u}));
}

void TestWindowPorts::handlersPendingWhenAPassStartsRunBetweenItsPorts()
{
    PtyPeer one, sixteen;
    Bench bench({{1, one.linkPath()}, {16, sixteen.linkPath()}});
    // A click and a receive poll already waiting when the pass begins run inside it, after the
    // first port: the command reaches port 1, which is open by then, and not yet port 16.
    QList<bool> openAtTheClick; // ports 1 and 16
    QMetaObject::invokeMethod(
        &bench.form,
        [&] {
            openAtTheClick << bench.form.portBank().port(0).isOpen()
                           << bench.form.portBank().port(15).isOpen();
            bench.form.clickPreset(0);
        },
        Qt::QueuedConnection);
    bench.form.openingPass();
    QCOMPARE(openAtTheClick, (QList<bool>{true, false}));
    QCOMPARE(one.readExactly(8), QByteArray(":::ZAVA."));
    QCOMPARE(bench.status(15), (PortStatus{QStringLiteral("串口16"), 0x00FF00u}));
    QCOMPARE(sixteen.readAvailable(100), QByteArray());
    // Once open, port 16 gets what is sent from then on, as port 1 does.
    bench.form.clickPreset(1);
    QCOMPARE(one.readExactly(8), QByteArray(":::ZAVB."));
    QCOMPARE(sixteen.readExactly(8), QByteArray(":::ZAVB."));
}

void TestWindowPorts::aPortHeldElsewhereShowsBlueUntilReleased()
{
    PtyPeer five;
    Bench bench({{5, five.linkPath()}});
    for (auto hold : {ForeignHolder::Hold::Flock, ForeignHolder::Hold::LockFile}) {
        ForeignHolder holder(five.slavePath(), hold);
        QVERIFY(holder.isHolding());
        bench.form.openingPass();
        QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("占用5"), 0x0000FFu}));
        holder.release();
        bench.form.openingPass();
        QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("串口5"), 0x00FF00u}));
        // Held by us now: to a flock user it is in use.
        QVERIFY(!someoneElseCanLock(five.slavePath()));
        // Release it for the next round.
        bench.form.portBank().port(4).close();
    }
}

void TestWindowPorts::aLostDeviceGoesGrayWithoutSpinningAndComesBackGreen()
{
    PtyPeer peer;
    Bench bench({{2, peer.linkPath()}});
    bench.form.openingPass();
    QCOMPARE(bench.status(1).rgb, 0x00FF00u);

    peer.closeMaster();
    peer.removeLink();
    QVERIFY(QTest::qWaitFor([&] { return !bench.form.portBank().port(1).isOpen(); }, 10000));
    // Half a second of the event loop on the dead line costs next to no CPU.
    const double before = cpuSeconds();
    QTest::qWait(500);
    const double spent = cpuSeconds() - before;
    QVERIFY2(spent < 0.25, qPrintable(QString("CPU %1 s in 0.5 s").arg(spent)));
    bench.form.SendToAllPorts(QStringLiteral("lost")); // goes nowhere, fails quietly

    bench.form.openingPass();
    QCOMPARE(bench.status(1), (PortStatus{QStringLiteral("串口2"), 0xC0C0C0u}));

    QVERIFY(peer.reopen());
    bench.form.openingPass();
    QCOMPARE(bench.status(1), (PortStatus{QStringLiteral("串口2"), 0x00FF00u}));
    bench.form.SendToAllPorts(QStringLiteral("back"));
    QCOMPARE(peer.readExactly(4), QByteArray("back"));
}

void TestWindowPorts::aRefusedSettingsTextStillOpensWithThePreviousSettings()
{
    PtyPeer peer;
    Bench bench({{3, peer.linkPath()}});
    bench.form.settingsBox()->setText(QStringLiteral("fast,please"));
    bench.form.openingPass();
    QCOMPARE(bench.status(2), (PortStatus{QStringLiteral("串口3"), 0x00FF00u}));
    QCOMPARE(bench.form.portBank().port(2).settings(), QStringLiteral("115200,n,8,1"));
    // A good text is taken by the open port on the next pass (a pty has no parity or data
    // bits to set, so the change is one it can take).
    bench.form.settingsBox()->setText(QStringLiteral("9600,n,8,2"));
    bench.form.openingPass();
    QCOMPARE(bench.form.portBank().port(2).settings(), QStringLiteral("9600,n,8,2"));
    QCOMPARE(bench.status(2).rgb, 0x00FF00u);
}

void TestWindowPorts::exitReleasesEveryPortAndSendsNothingMore()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.openingPass();
    QVERIFY(bench.form.portBank().port(0).isOpen());
    // The sweep runs at 1 ms when the exit button is clicked.
    bench.form.sweepIntervalBox()->setText(QStringLiteral("1"));
    bench.form.openingPassTimer()->setEnabled(false);
    bench.form.clickSweep();
    QVERIFY(!peer.readAvailable(10000).isEmpty());

    QTest::mouseClick(bench.form.exitButton(), Qt::LeftButton);
    QVERIFY(!bench.form.isVisible());
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QVERIFY(someoneElseCanLock(peer.slavePath()));
    peer.readAvailable(50); // what the kernel already held
    QCOMPARE(peer.readAvailable(100), QByteArray());
    // Even a handler still unwinding cannot write or open again.
    bench.form.SendToAllPorts(QStringLiteral("late"));
    bench.form.openingPass();
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QCOMPARE(peer.readAvailable(100), QByteArray());
}

void TestWindowPorts::theCloseBoxEndsTheProgramLikeTheExitButton()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.openingPass();
    QVERIFY(bench.form.portBank().port(0).isOpen());
    QVERIFY(bench.form.close());
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QVERIFY(someoneElseCanLock(peer.slavePath()));
    bench.form.openingPass();
    QVERIFY(!bench.form.portBank().port(0).isOpen());
}

QTEST_MAIN(TestWindowPorts)
#include "tst_window_ports.moc"
