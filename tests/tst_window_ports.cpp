// The window against real pseudo-terminals: the opening pass and its status colours, the
// broadcast, a device that goes away and comes back, and the exit button.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/text_box.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"
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
        return {form.Label9[index]->text(), form.Label9[index]->foreColor()};
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
    void aPortHeldElsewhereShowsBlueUntilReleased();
    void aLostDeviceGoesGrayWithoutSpinningAndComesBackGreen();
    void aRefusedSettingsTextStillOpensWithThePreviousSettings();
    void exitReleasesEveryPortAndSendsNothingMore();
    void theCloseBoxEndsTheProgramLikeTheExitButton();
};

void TestWindowPorts::withNoPortMappedAllSixteenShowLightGray()
{
    Bench bench({});
    bench.form.Timer3_Timer();
    for (int i = 0; i < 16; ++i)
        QCOMPARE(bench.status(i),
                 (PortStatus{QStringLiteral("串口%1").arg(i + 1), PortStatusColour::LightGray}));
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(15).rgb, PortStatusColour::LightGray);
    QVERIFY(bench.form.Label9[15]->toolTip().contains(QStringLiteral("无设备")));
}

void TestWindowPorts::openPortsTurnGreenAndReceiveEveryBroadcastByteExact()
{
    PtyPeer one, four;
    QVERIFY(one.isValid() && four.isValid());
    Bench bench({{1, one.linkPath()}, {4, four.linkPath()}});
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(0), (PortStatus{QStringLiteral("串口1"), PortStatusColour::Green}));
    QCOMPARE(bench.status(3), (PortStatus{QStringLiteral("串口4"), PortStatusColour::Green}));
    for (int i : {1, 2, 4, 15})
        QCOMPARE(bench.status(i).rgb, PortStatusColour::LightGray);
    QVERIFY(bench.form.Label9[3]->toolTip().contains(four.linkPath()));

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
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(0).rgb, PortStatusColour::Green);
    QCOMPARE(four.readAvailable(100), QByteArray());
}

void TestWindowPorts::aPortHeldElsewhereShowsBlueUntilReleased()
{
    PtyPeer five;
    Bench bench({{5, five.linkPath()}});
    for (auto hold : {ForeignHolder::Hold::Flock, ForeignHolder::Hold::LockFile}) {
        ForeignHolder holder(five.slavePath(), hold);
        QVERIFY(holder.isHolding());
        bench.form.Timer3_Timer();
        QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("占用5"), PortStatusColour::Blue}));
        holder.release();
        bench.form.Timer3_Timer();
        QCOMPARE(bench.status(4), (PortStatus{QStringLiteral("串口5"), PortStatusColour::Green}));
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
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(1).rgb, PortStatusColour::Green);

    peer.closeMaster();
    peer.removeLink();
    const double before = cpuSeconds();
    QTest::qWait(500);
    const double spent = cpuSeconds() - before;
    QVERIFY2(spent < 0.25, qPrintable(QString("CPU %1 s in 0.5 s").arg(spent)));
    QVERIFY(!bench.form.portBank().port(1).isOpen());
    bench.form.SendToAllPorts(QStringLiteral("lost")); // goes nowhere, fails quietly

    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(1), (PortStatus{QStringLiteral("串口2"), PortStatusColour::LightGray}));

    QVERIFY(peer.reopen());
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(1), (PortStatus{QStringLiteral("串口2"), PortStatusColour::Green}));
    bench.form.SendToAllPorts(QStringLiteral("back"));
    QCOMPARE(peer.readExactly(4), QByteArray("back"));
}

void TestWindowPorts::aRefusedSettingsTextStillOpensWithThePreviousSettings()
{
    PtyPeer peer;
    Bench bench({{3, peer.linkPath()}});
    bench.form.Text10->setText(QStringLiteral("fast,please"));
    bench.form.Timer3_Timer();
    QCOMPARE(bench.status(2), (PortStatus{QStringLiteral("串口3"), PortStatusColour::Green}));
    QCOMPARE(bench.form.portBank().port(2).settings(), QStringLiteral("115200,n,8,1"));
    // A good text is taken by the open port on the next pass (a pty has no parity or data
    // bits to set, so the change is one it can take).
    bench.form.Text10->setText(QStringLiteral("9600,n,8,2"));
    bench.form.Timer3_Timer();
    QCOMPARE(bench.form.portBank().port(2).settings(), QStringLiteral("9600,n,8,2"));
    QCOMPARE(bench.status(2).rgb, PortStatusColour::Green);
}

void TestWindowPorts::exitReleasesEveryPortAndSendsNothingMore()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.Timer3_Timer();
    QVERIFY(bench.form.portBank().port(0).isOpen());
    // The sweep runs at 1 ms when the exit button is clicked.
    bench.form.Text8->setText(QStringLiteral("1"));
    bench.form.Timer3->setEnabled(false);
    bench.form.Command4_Click();
    QTest::qWait(50);
    QVERIFY(!peer.readAvailable(200).isEmpty());

    QTest::mouseClick(bench.form.Command3, Qt::LeftButton);
    QVERIFY(!bench.form.isVisible());
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QVERIFY(someoneElseCanLock(peer.slavePath()));
    peer.readAvailable(50); // what the kernel already held
    QTest::qWait(100);
    QCOMPARE(peer.readAvailable(0), QByteArray());
    // Even a handler still unwinding cannot write or open again.
    bench.form.SendToAllPorts(QStringLiteral("late"));
    bench.form.Timer3_Timer();
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QCOMPARE(peer.readAvailable(100), QByteArray());
}

void TestWindowPorts::theCloseBoxEndsTheProgramLikeTheExitButton()
{
    PtyPeer peer;
    Bench bench({{1, peer.linkPath()}});
    bench.form.Timer3_Timer();
    QVERIFY(bench.form.portBank().port(0).isOpen());
    QVERIFY(bench.form.close());
    QVERIFY(!bench.form.portBank().port(0).isOpen());
    QVERIFY(someoneElseCanLock(peer.slavePath()));
    bench.form.Timer3_Timer();
    QVERIFY(!bench.form.portBank().port(0).isOpen());
}

QTEST_MAIN(TestWindowPorts)
#include "tst_window_ports.moc"
