// The lamp window keeps up with a flood of commands by drawing at most once per frame, and
// draws nothing while nothing changes or moves.
#include "simulator/controller_timing.h"
#include "simulator/lamp_panel.h"
#include "simulator/simulated_port.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

class CountingPanel : public LampPanel {
public:
    using LampPanel::LampPanel;
    int paints = 0;
    const SimulatedPort* watched = nullptr;
    QList<int> watchedLevels; // the first lamp of the watched port at every paint

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        if (watched) {
            const ControllerModel& model = watched->controller().model();
            watchedLevels.append(channelLevel(model.channel(0), model.timing(), simulatorNowMs()));
        }
        LampPanel::paintEvent(event);
    }
};

} // namespace

class TestSimLampPanel : public QObject {
    Q_OBJECT
private slots:
    void drawsAtMostOncePerFrameAndOnlyWhenNeeded();
};

void TestSimLampPanel::drawsAtMostOncePerFrameAndOnlyWhenNeeded()
{
    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimulatedPort>> ports;
    std::vector<SimulatedPort*> shown;
    std::vector<int> devices;
    for (int number = 1; number <= 2; ++number) {
        ports.push_back(std::make_unique<SimulatedPort>(
            number, SimulatedController::Options{},
            folder.filePath(QStringLiteral("port%1").arg(number)), 0));
        QVERIFY2(ports.back()->open(), qPrintable(ports.back()->error()));
        shown.push_back(ports.back().get());
        devices.push_back(::open(QFile::encodeName(ports.back()->devicePath()).constData(),
                                 O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        QVERIFY(devices.back() >= 0);
    }
    CountingPanel panel(shown);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    // A flood: the fast sweep's range commands, 20 to each port every millisecond for a second.
    QByteArray burst;
    for (int m = 0; m < 20; ++m)
        burst += ":::::::::::::::::::ZAVB" + QByteArray::number(m) + "-" +
                 QByteArray::number(m + 60) + ".";
    qint64 sent = 0;
    QTimer writer;
    connect(&writer, &QTimer::timeout, this, [&] {
        for (int fd : devices)
            QCOMPARE(::write(fd, burst.constData(), size_t(burst.size())), burst.size());
        sent += 20;
    });
    const int paintsBefore = panel.paints;
    QElapsedTimer clock;
    clock.start();
    writer.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 1000, 5000);
    writer.stop();
    for (const auto& port : ports)
        QTRY_COMPARE_WITH_TIMEOUT(port->controller().accepted(), sent, 5000);
    // Coarse timers may fire up to 5 % early.
    const qint64 frames = qint64(double(clock.elapsed()) / (LampPanel::kFrameMs * 0.95));
    const int paintsDuring = panel.paints - paintsBefore;
    QVERIFY2(paintsDuring >= 1 && paintsDuring <= frames + 2,
             qPrintable(QStringLiteral("%1 paints in %2 frames").arg(paintsDuring).arg(frames)));
    QCOMPARE(ports[1]->controller().lastCommand(), QByteArray("ZAVB19-79"));

    // Still lamps and no commands: no paint at all.
    QCOMPARE(::write(devices[0], ":::ZAVB3.", 9), 9);
    QTRY_COMPARE_WITH_TIMEOUT(ports[0]->controller().lastCommand(), QByteArray("ZAVB3"), 5000);
    QTest::qWait(4 * LampPanel::kFrameMs); // the change is drawn once
    const int settled = panel.paints;
    QTest::qWait(10 * LampPanel::kFrameMs);
    QCOMPARE(panel.paints, settled);
    // A flashing lamp is drawn again and again without any command, each time it turns and
    // only then (here every 100 ms).
    panel.watched = ports[1].get();
    QCOMPARE(::write(devices[1], ":::STA10.:::ZAVZ0C.", 19), 19);
    QTRY_COMPARE_WITH_TIMEOUT(ports[1]->controller().lastCommand(), QByteArray("ZAVZ0C"), 5000);
    const qsizetype from = panel.watchedLevels.size();
    QTRY_VERIFY_WITH_TIMEOUT(panel.watchedLevels.size() >= from + 6, 10000);
    for (qsizetype i = from + 1; i < panel.watchedLevels.size(); ++i)
        QVERIFY2(
            panel.watchedLevels[i] != panel.watchedLevels[i - 1],
            qPrintable(QStringLiteral("paint %1 shows the same lamp as the one before").arg(i)));

    for (int fd : devices)
        ::close(fd);
}

QTEST_MAIN(TestSimLampPanel)
#include "tst_sim_lamp_panel.moc"
