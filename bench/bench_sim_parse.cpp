// The simulated controllers against Lightbench's fast sweep on sixteen ports: how many commands
// a second the simulator takes, against how many Lightbench sends at full speed. The simulator
// must never be the bottleneck (ratio at least 1).
//
// a) parsing alone: the fast sweep's bytes fed to sixteen controllers in memory;
// b) the simulator's capacity: a writer thread pushes the fast sweep into sixteen simulated
//    ports as fast as the ptys take it; the ports parse on this thread's event loop;
// c) Lightbench at full speed: the window's fast sweep to sixteen ptys whose far ends only read;
// d) the two together: the window's fast sweep to sixteen simulated ports served by a thread of
//    their own (as the separate program would be); what they take, and how much is still queued
//    (in the window's output or the ptys) when the sweep stops.
//
// Usage: bench_sim_parse [seconds]   (per run, default 10)
#include "bench_support.h"

#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "port_bank/explicit_port_directory.h"
#include "simulator/simulated_port.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using namespace bench;

namespace {

constexpr int kPorts = 16;

SweepSequence fastSweep()
{
    return SweepSequence(fastRangeCommand, 0, 31, ":::ZAVB.");
}

// About 64 KiB of the fast sweep's commands, ending after a whole command.
QByteArray fastSweepBlock(qint64& commands)
{
    SweepSequence sequence = fastSweep();
    QByteArray block;
    commands = 0;
    while (block.size() < 64 * 1024) {
        block += sequence.next();
        ++commands;
    }
    return block;
}

struct Rate {
    double perPort = 0; // commands a second, mean over the ports
    double all = 0;
    qint64 rejected = 0;
};

Rate parsingAlone(double seconds)
{
    qint64 perBlock = 0;
    const QByteArray block = fastSweepBlock(perBlock);
    std::vector<std::unique_ptr<SimulatedController>> controllers;
    for (int i = 0; i < kPorts; ++i)
        controllers.push_back(
            std::make_unique<SimulatedController>(SimulatedController::Options{}));
    const Clock::time_point start = Clock::now();
    qint64 blocks = 0;
    while (secondsSince(start) < seconds) {
        for (auto& controller : controllers) {
            for (qsizetype at = 0; at < block.size(); at += 4096)
                controller->receive(
                    QByteArrayView(block).sliced(at, std::min<qsizetype>(4096, block.size() - at)),
                    0);
        }
        ++blocks;
    }
    const double elapsed = secondsSince(start);
    Rate rate;
    for (auto& controller : controllers) {
        rate.all += double(controller->accepted()) / elapsed;
        rate.rejected += controller->rejected();
    }
    rate.perPort = rate.all / kPorts;
    if (controllers[0]->accepted() != blocks * perBlock)
        std::printf("  parsing alone: %lld commands taken of %lld\n",
                    (long long)controllers[0]->accepted(), blocks * perBlock);
    return rate;
}

struct SimulatedPorts {
    QTemporaryDir folder;
    std::vector<std::unique_ptr<SimulatedPort>> ports;
    QMap<int, QString> devices;

    bool open()
    {
        for (int number = 1; number <= kPorts; ++number) {
            ports.push_back(std::make_unique<SimulatedPort>(
                number, SimulatedController::Options{},
                folder.filePath(QStringLiteral("port%1").arg(number)), 0));
            if (!ports.back()->open()) {
                std::printf("simulated port %d: %s\n", number, qPrintable(ports.back()->error()));
                return false;
            }
            devices.insert(number, ports.back()->bindingPath());
        }
        return true;
    }
    qint64 accepted() const
    {
        qint64 sum = 0;
        for (const auto& port : ports)
            sum += port->controller().accepted();
        return sum;
    }
    qint64 rejected() const
    {
        qint64 sum = 0;
        for (const auto& port : ports)
            sum += port->controller().rejected();
        return sum;
    }
};

// b) A writer thread keeps every port's pty full; this thread's event loop parses.
Rate simulatorCapacity(double seconds)
{
    SimulatedPorts sim;
    if (!sim.open())
        return {};
    std::vector<int> fds;
    for (const auto& port : sim.ports) {
        const int fd = ::open(QFile::encodeName(port->devicePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::perror("open simulated device");
            return {};
        }
        fds.push_back(fd);
    }
    qint64 perBlock = 0;
    const QByteArray block = fastSweepBlock(perBlock);
    std::atomic<bool> stopping{false};
    std::thread writer([&] {
        std::vector<qsizetype> offset(fds.size(), 0);
        std::vector<pollfd> polls(fds.size());
        while (!stopping) {
            for (std::size_t i = 0; i < fds.size(); ++i)
                polls[i] = {fds[i], POLLOUT, 0};
            if (::poll(polls.data(), nfds_t(polls.size()), 20) <= 0)
                continue;
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (!(polls[i].revents & POLLOUT))
                    continue;
                const ssize_t put = ::write(fds[i], block.constData() + offset[i],
                                            size_t(block.size() - offset[i]));
                if (put > 0)
                    offset[i] = (offset[i] + put) % block.size();
            }
        }
    });
    QEventLoop loop;
    qint64 atStart = 0;
    Clock::time_point start;
    QTimer::singleShot(500, [&] { // warm-up: the ptys full, the loop busy
        atStart = sim.accepted();
        start = Clock::now();
    });
    QTimer::singleShot(500 + int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    Rate rate;
    rate.all = double(sim.accepted() - atStart) / secondsSince(start);
    rate.perPort = rate.all / kPorts;
    rate.rejected = sim.rejected();
    stopping = true;
    writer.join();
    for (int fd : fds)
        ::close(fd);
    return rate;
}

// c) The window's fast sweep with far ends that only read, as fast as they can.
Rate lightbenchFullSpeed(double seconds)
{
    PtySet ptys;
    if (!ptys.open(kPorts))
        return {};
    ExplicitPortDirectory directory(ptys.devices);
    Form1 form(directory);
    form.openingPass();
    ReadingPeers peers(ptys.masters, fastSweep());
    peers.start();
    qint64 atStart = 0;
    Clock::time_point start;
    double elapsed = 0;
    qint64 atEnd = 0;
    QEventLoop loop;
    QTimer::singleShot(500, Qt::PreciseTimer, &form, [&] {
        for (int i = 0; i < kPorts; ++i)
            atStart += peers.commands(i);
        start = Clock::now();
    });
    QTimer::singleShot(500 + int(seconds * 1000), Qt::PreciseTimer, &form, [&] {
        for (int i = 0; i < kPorts; ++i)
            atEnd += peers.commands(i);
        elapsed = secondsSince(start);
        QMetaObject::invokeMethod(&form, "clickFastSweep", Qt::QueuedConnection);
        loop.quit();
    });
    QMetaObject::invokeMethod(&form, "clickFastSweep", Qt::QueuedConnection);
    loop.exec();
    peers.stop();
    Rate rate;
    rate.all = double(atEnd - atStart) / elapsed;
    rate.perPort = rate.all / kPorts;
    for (int i = 0; i < kPorts; ++i)
        rate.rejected += peers.checker(i).ok() ? 0 : 1; // streams that differ from the sweep
    return rate;
}

// d) The window's fast sweep to simulated ports on a thread of their own.
struct Together {
    Rate rate;
    qint64 waitingAtStop = 0; // commands parsed only after the sweep stopped
    bool ok = false;
};

Together lightbenchAgainstSimulator(double seconds)
{
    Together result;
    QThread thread;
    thread.start();
    QObject anchor;
    anchor.moveToThread(&thread);
    SimulatedPorts* sim = nullptr;
    auto onSimThread = [&](auto&& work) {
        QMetaObject::invokeMethod(&anchor, work, Qt::BlockingQueuedConnection);
    };
    onSimThread([&] {
        sim = new SimulatedPorts;
        sim->open();
    });
    if (sim->devices.size() != kPorts) {
        onSimThread([&] { delete sim; });
        thread.quit();
        thread.wait();
        return result;
    }
    auto accepted = [&] {
        qint64 n = 0;
        onSimThread([&] { n = sim->accepted(); });
        return n;
    };
    {
        ExplicitPortDirectory directory(sim->devices);
        Form1 form(directory);
        form.openingPass();
        qint64 atStart = 0;
        qint64 atEnd = 0;
        Clock::time_point start;
        double elapsed = 0;
        QEventLoop loop;
        QTimer::singleShot(500, Qt::PreciseTimer, &form, [&] {
            atStart = accepted();
            start = Clock::now();
        });
        QTimer::singleShot(500 + int(seconds * 1000), Qt::PreciseTimer, &form, [&] {
            atEnd = accepted();
            elapsed = secondsSince(start);
            QMetaObject::invokeMethod(&form, "clickFastSweep", Qt::QueuedConnection);
            loop.quit();
        });
        QMetaObject::invokeMethod(&form, "clickFastSweep", Qt::QueuedConnection);
        loop.exec();
        const qint64 atStop = accepted();
        // Until the window has handed everything over and the simulator has parsed it.
        qint64 last = -1;
        for (int quiet = 0; quiet < 20;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            ::usleep(10000);
            const qint64 now = accepted();
            quiet = now == last ? quiet + 1 : 0;
            last = now;
        }
        result.rate.all = double(atEnd - atStart) / elapsed;
        result.rate.perPort = result.rate.all / kPorts;
        result.waitingAtStop = last - atStop;
        onSimThread([&] {
            result.rate.rejected = sim->rejected();
            result.ok = sim->rejected() == 0;
            for (const auto& port : sim->ports)
                result.ok = result.ok && port->controller().accepted() == last / kPorts;
        });
    }
    onSimThread([&] { delete sim; });
    thread.quit();
    thread.wait();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, QByteArray(argv[1]).toDouble()) : 10.0;
    std::printf("Simulated controllers and the fast sweep, 16 ports, %.1f s per run\n\n", seconds);

    const CpuSample a0 = CpuSample::now();
    const Rate parsing = parsingAlone(seconds);
    const CpuSample a1 = CpuSample::now();
    const Rate capacity = simulatorCapacity(seconds);
    const CpuSample b1 = CpuSample::now();
    const Rate lightbench = lightbenchFullSpeed(seconds);
    const CpuSample c1 = CpuSample::now();
    const Together together = lightbenchAgainstSimulator(seconds);
    const CpuSample d1 = CpuSample::now();

    std::printf("  %-52s  %12s  %12s  %8s\n", "run", "cmd/s a port", "cmd/s all", "rejected");
    auto row = [](const char* what, const Rate& rate) {
        std::printf("  %-52s  %12.0f  %12.0f  %8lld\n", what, rate.perPort, rate.all,
                    rate.rejected);
    };
    row("a) simulator parsing alone, in memory", parsing);
    row("b) simulator through ptys, writer never waits for it", capacity);
    row("c) Lightbench fast sweep, far ends only read", lightbench);
    row("d) Lightbench fast sweep to the simulator (own thread)", together.rate);
    const double ratio = lightbench.perPort > 0 ? capacity.perPort / lightbench.perPort : 0;
    std::printf("\n  ratio b / c (what the simulator takes / what Lightbench sends): %.2f (target "
                ">= 1) %s\n",
                ratio, ratio >= 1 ? "ok" : "BELOW TARGET");
    std::printf("  d) commands parsed after the stop (still queued in the window's output or the "
                "ptys): %lld over 16 ports; every port parsed all it got, none rejected: %s\n",
                together.waitingAtStop, together.ok ? "yes" : "NO");
    printLoad("a", a0, a1);
    printLoad("b", a1, b1);
    printLoad("c", b1, c1);
    printLoad("d", c1, d1);
    return ratio >= 1 && together.ok && parsing.rejected == 0 && capacity.rejected == 0 ? 0 : 1;
}
