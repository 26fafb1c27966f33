// Timed sweep regularity: how evenly the sweep timer ticks at 200, 10 and 1 ms, with no
// port open and with one pseudo-terminal that receives every command, beside a bare
// QTimer(Qt::PreciseTimer) in the same event loop.
//
// The interval is typed into the sweep interval box as the operator would, which sets the
// opening pass's timer to the same interval; that timer is switched off then, so that only the
// sweep runs on it. One extra row shows 1 ms with the opening pass timer left on, as the window
// behaves when nobody switches it off.
//
// The row of the targets, 1 ms with one pty, is measured three times.
//
// Usage: bench_timed_sweep [seconds]   (per row, default 5)
#include "bench_window.h"

#include "main_window/window_timer.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <optional>

using namespace bench;

namespace {

struct Row {
    QByteArray timer;
    QByteArray ports;
    int interval = 0;
    qint64 ticks = 0;
    double ticksPerSecond = 0;
    double medianError = 0;
    double p99Error = 0;
    double maxError = 0;
    QByteArray stream = "-";
};

// Collects tick times for `seconds`, while start() is in force, and turns them into a row.
Row measure(const QByteArray& timer, const QByteArray& ports, int interval, double seconds,
            const std::function<void()>& start, const std::function<void()>& stop,
            const std::function<void(const std::function<void()>&)>& hook)
{
    std::vector<Clock::time_point> ticks;
    ticks.reserve(size_t(seconds * 1000.0 / interval) + 16);
    hook([&] { ticks.push_back(Clock::now()); });
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    const Clock::time_point begin = Clock::now();
    start();
    loop.exec();
    stop();
    const double wall = secondsSince(begin);

    Row row;
    row.timer = timer;
    row.ports = ports;
    row.interval = interval;
    row.ticks = qint64(ticks.size());
    row.ticksPerSecond = double(ticks.size()) / wall;
    std::vector<double> errors;
    for (size_t i = 1; i < ticks.size(); ++i) {
        const double period =
            std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count();
        errors.push_back(std::abs(period - interval));
    }
    row.medianError = percentile(errors, 50);
    row.p99Error = percentile(errors, 99);
    row.maxError = maximum(errors);
    return row;
}

Row measureSweep(Form1& form, const QByteArray& ports, int interval, double seconds,
                 bool openingPassOn)
{
    form.sweepIntervalBox()->setText(QString::number(interval));
    form.openingPassTimer()->setEnabled(openingPassOn);
    QMetaObject::Connection connection;
    Row row = measure(
        openingPassOn ? "sweep (opening pass on)" : "sweep", ports, interval, seconds,
        [&] { form.clickSweep(); }, [&] { form.clickSweep(); },
        [&](const std::function<void()>& record) {
            connection = QObject::connect(form.sweepTimer(), &WindowTimer::timeout, record);
        });
    QObject::disconnect(connection);
    form.openingPassTimer()->setEnabled(false);
    if (form.sweepTimer()->isEnabled())
        std::printf("the sweep did not stop\n");
    return row;
}

Row measureQTimer(int interval, double seconds)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(interval);
    return measure(
        "QTimer Precise", "-", interval, seconds, [&] { timer.start(); }, [&] { timer.stop(); },
        [&](const std::function<void()>& record) {
            QObject::connect(&timer, &QTimer::timeout, record);
        });
}

// The timed sweep's commands, as bytes.
SweepSequence timedSequence(Form1& form)
{
    const QByteArray prefix = form.prefixBox()->text().toLatin1();
    return SweepSequence(
        [prefix](int channel) { return prefix + QByteArray::number(channel) + '.'; },
        form.startChannelBox()->text().toInt(), form.endChannelBox()->text().toInt(),
        form.endCommandBox()->text().toLatin1());
}

void printRow(const Row& r)
{
    std::printf("  %-18s  %-6s  %5d  %6lld  %8.1f  %9.1f  %8.3f  %8.3f  %8.3f  %s\n",
                r.timer.constData(), r.ports.constData(), r.interval, r.ticks, r.ticksPerSecond,
                1000.0 / r.interval, r.medianError, r.p99Error, r.maxError, r.stream.constData());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MemoryWatch memory;
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(1.0, QByteArray(argv[1]).toDouble()) : 5.0;
    const int intervals[] = {200, 10, 1};
    std::vector<Row> rows;
    const CpuSample cpuStart = CpuSample::now();

    {
        Window window({});
        for (int interval : intervals)
            rows.push_back(measureSweep(window.form, "none", interval, seconds, false));
        // The bare timer beside the same idle window, receive poll running.
        for (int interval : intervals)
            rows.push_back(measureQTimer(interval, seconds));
    }

    Pty pty;
    if (!pty.open())
        return 1;
    {
        Window window({{1, pty.slavePath}});
        window.form.openingPass();
        if (!window.form.portBank().port(0).isOpen()) {
            std::printf("port 1 did not open\n");
            return 1;
        }
        ReadingPeers peer({pty.master}, timedSequence(window.form));
        qint64 sentBefore = 0;
        const auto withPeer = [&](int interval, bool openingPassOn) {
            peer.start(sentBefore);
            Row row = measureSweep(window.form, "1 pty", interval, seconds, openingPassOn);
            // Everything sent has reached the peer once it has been quiet for a while.
            qint64 last = -1;
            while (peer.bytes(0) != last) {
                last = peer.bytes(0);
                QEventLoop wait;
                QTimer::singleShot(100, &wait, &QEventLoop::quit);
                wait.exec();
            }
            peer.stop();
            const StreamChecker& c = peer.checker(0);
            const bool whole = c.isComplete() && c.commands() == row.ticks;
            row.stream = whole ? "ok" : "FAILED";
            if (!whole)
                std::printf("1 pty at %d ms: %lld ticks, %lld commands received%s\n", interval,
                            row.ticks, c.commands(),
                            c.ok() ? "" : ", stream differs from the sweep's sequence");
            sentBefore += c.commands();
            rows.push_back(row);
        };
        for (int interval : intervals)
            withPeer(interval, false);
        // The target's row twice more.
        withPeer(1, false);
        withPeer(1, false);
        withPeer(1, true);
    }
    const CpuSample cpuEnd = CpuSample::now();

    std::printf("Timed sweep: tick regularity, %.1f s per row (offscreen window; receive poll on; "
                "opening pass off unless marked)\n",
                seconds);
    std::printf("  period error = |time between two ticks - interval|; stream: every tick's "
                "command arrived, in order\n");
    std::printf("  %-18s  %-6s  %5s  %6s  %8s  %9s  %8s  %8s  %8s  %s\n", "timer", "ports", "ms",
                "ticks", "ticks/s", "target/s", "med err", "p99 err", "max err", "stream");
    for (const Row& r : rows)
        printRow(r);
    std::printf("  aim beside the targets: at 200 ms median error under 0.2 ms\n");
    printLoad("the whole run", cpuStart, cpuEnd);
    std::vector<double> ticks;
    bool streams = true;
    for (const Row& r : rows) {
        if (r.timer == "sweep" && r.ports == "1 pty" && r.interval == 1)
            ticks.push_back(r.ticksPerSecond);
        streams = streams && r.stream != "FAILED";
    }
    Targets targets("bench_timed_sweep");
    targets.onMedian("ticks per second at 1 ms, one pty", ticks, Targets::Aim::AtLeast, 990,
                     "%.1f");
    targets.check("every tick's command arrived, in order", streams, streams ? "ok" : "FAILED");
    memory.addRow(targets);
    targets.print();
    return targets.allMet() ? 0 : 1;
}
