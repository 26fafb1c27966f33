// Network ports against local ones, in one run: the same sixteen pseudo-terminals opened by the
// window directly, then served by one ser2net on 127.0.0.1 with RFC 2217 and opened through it.
//
// a) The fast sweep, far ends reading as fast as they can, three rounds of a local run and a
//    network run: the main thread's CPU time per command, network / local, and the network's
//    rate against what its pacing allows at the speed set (4,000,000 baud 8N1: 400,000 bytes/s).
// b) The round trip from a click on a preset to the controller's reply in the port's receive
//    box, and the click-to-wire part of it. The receive poll runs every 200 ms, so the
//    round trip is mostly the wait for the next poll, for both kinds of port alike.
//
// c) How long an opening pass, a receive poll and a broadcast take with sixteen network ports
//    whose host never answers (its SYNs dropped) or whose name does not resolve: the window
//    must not wait for the network.
//
// d) From the stop of a timed sweep at 1 ms to a preset at the far line, local against ser2net,
//    both far lines draining at 11,520 B/s (stop_to_preset.h).
//
// Usage: bench_network_ports [seconds [timed-sweep-seconds [rounds]]]
//        (seconds per fast-sweep run, default 10; timed sweep of d), default 60; 3 rounds of a))
#include "bench_window.h"
#include "ser2net_server.h"
#include "stop_to_preset.h"

#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

using namespace bench;

namespace {

constexpr int kPorts = 16;
constexpr int kClicks = 25;
constexpr const char* kFastestLine = "4000000,n,8,1";
constexpr double kFastestLineBytes = 400000; // a byte is 10 bits at 8N1

// Opening passes as the timer runs them, until every port is open (a network port opens once
// its connection is up, a pass or two later).
bool openAll(Form1& form)
{
    const Clock::time_point start = Clock::now();
    while (secondsSince(start) < 30) {
        form.openingPass();
        bool all = true;
        for (int i = 0; i < kPorts; ++i)
            all = all && form.portBank().port(i).isOpen();
        if (all)
            return true;
        QEventLoop wait;
        QTimer::singleShot(100, &wait, &QEventLoop::quit);
        wait.exec();
    }
    return false;
}

struct SweepRun {
    std::array<double, kPorts> commandsPerSecond{};
    double bytesPerSecond = 0;  // a port, on average
    double cpuPerCommandUs = 0; // the main thread's, for one command to all ports
    bool streamsOk = true;
    CpuSample cpuStart;
    CpuSample cpuEnd;
};

SweepRun runFastSweep(Form1& form, ReadingPeers& peers, double seconds)
{
    SweepRun run;
    peers.start();
    std::array<qint64, kPorts> atStart{};
    qint64 bytesAtStart = 0;
    driveFastSweep(
        form, 0, seconds,
        [&] {
            for (int i = 0; i < kPorts; ++i)
                atStart[size_t(i)] = peers.commands(i);
            bytesAtStart = peers.totalBytes();
            run.cpuStart = CpuSample::now();
        },
        [&] {
            run.cpuEnd = CpuSample::now();
            const double elapsed =
                std::chrono::duration<double>(run.cpuEnd.when - run.cpuStart.when).count();
            for (int i = 0; i < kPorts; ++i)
                run.commandsPerSecond[size_t(i)] =
                    double(peers.commands(i) - atStart[size_t(i)]) / elapsed;
            run.bytesPerSecond = double(peers.totalBytes() - bytesAtStart) / elapsed / kPorts;
            const double commands = double(peers.commands(0) - atStart[0]);
            run.cpuPerCommandUs =
                commands > 0 ? (run.cpuEnd.mainThreadSeconds - run.cpuStart.mainThreadSeconds) /
                                   commands * 1e6
                             : 0;
        });
    run.streamsOk = settle(form, peers, 0.5);
    peers.stop();
    for (int i = 0; i < kPorts; ++i) {
        const StreamChecker& c = peers.checker(i);
        if (!c.ok() || !c.isComplete()) {
            if (!c.ok())
                std::printf("  port %d: the stream differs from the sweep's sequence at byte "
                            "%lld of %lld\n",
                            i + 1, c.mismatchAt(), c.bytes());
            else
                std::printf("  port %d: the stream ends within a command, after %lld bytes\n",
                            i + 1, c.bytes());
            run.streamsOk = false;
        }
    }
    return run;
}

// A controller on port 1 that answers every command with "R<n>\r\n", n counting from 1, and
// notes when each command reached it.
class Responder {
public:
    explicit Responder(int master) : master_(master)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~Responder()
    {
        stopping_ = true;
        thread_.join();
    }
    Clock::time_point lastArrival() const
    {
        return Clock::time_point(Clock::duration(arrival_.load()));
    }
    int answered() const { return answered_; }

private:
    void run()
    {
        char buffer[4096];
        while (!stopping_) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 5);
            const ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got <= 0)
                continue;
            arrival_ = Clock::now().time_since_epoch().count();
            const QByteArray reply = "R" + QByteArray::number(answered_ + 1) + "\r\n";
            if (::write(master_, reply.constData(), size_t(reply.size())) == reply.size())
                ++answered_;
        }
    }
    int master_;
    std::atomic<bool> stopping_{false};
    std::atomic<Clock::rep> arrival_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

struct RoundTrips {
    std::vector<double> replyMs; // click to the reply in port 1's receive box
    std::vector<double> wireMs;  // click to the command on the far line
};

RoundTrips measureRoundTrips(Form1& form, int master)
{
    RoundTrips trips;
    Responder responder(master);
    for (int k = 1; k <= kClicks; ++k) {
        // Clicks at random moments against the poll's 200 ms rhythm.
        QEventLoop pause;
        QTimer::singleShot(100 + QRandomGenerator::global()->bounded(200), &pause,
                           &QEventLoop::quit);
        pause.exec();
        const QString expected = QStringLiteral("R%1\r\n").arg(k);
        const Clock::time_point click = Clock::now();
        form.clickPreset(0);
        while (form.receiveBox(0)->text() != expected && secondsSince(click) < 5)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
        const Clock::time_point shown = Clock::now();
        if (form.receiveBox(0)->text() != expected) {
            std::printf("  reply %d did not show\n", k);
            continue;
        }
        trips.replyMs.push_back(std::chrono::duration<double, std::milli>(shown - click).count());
        trips.wireMs.push_back(
            std::chrono::duration<double, std::milli>(responder.lastArrival() - click).count());
    }
    return trips;
}

// Empties the far ends until they stay quiet for quietMs: the clicks of one run reach every
// open port, only port 1 answers, and a server may still hand its line what it took before the
// connection closed. Returns the bytes read.
qint64 drain(const std::vector<int>& masters, int quietMs = 0)
{
    char buffer[4096];
    qint64 total = 0;
    Clock::time_point quietSince = Clock::now();
    do {
        bool any = false;
        for (int master : masters) {
            ssize_t got;
            while ((got = ::read(master, buffer, sizeof buffer)) > 0) {
                total += got;
                any = true;
            }
        }
        if (any)
            quietSince = Clock::now();
        else if (quietMs > 0)
            ::usleep(10000);
    } while (secondsSince(quietSince) * 1000 < quietMs);
    return total;
}

struct Measured {
    SweepRun sweep;
    RoundTrips trips;
    bool opened = false;
};

Measured measure(const QMap<int, QString>& devices, const PtySet& ptys, double seconds,
                 bool roundTrips)
{
    Measured m;
    if (const qint64 late = drain(ptys.masters, 1000); late > 0)
        std::printf("  %lld bytes of the run before arrived after it\n", late);
    Window window(devices);
    Form1& form = window.form;
    // A network port is paced at its line's speed, which a pty does not have: the fastest line
    // there is, so that a) weighs the network's own cost and not the pace.
    form.settingsBox()->setText(QString::fromLatin1(kFastestLine));
    m.opened = openAll(form);
    if (!m.opened)
        return m;
    drain(ptys.masters);
    ReadingPeers peers(ptys.masters, fastSequence(form));
    m.sweep = runFastSweep(form, peers, seconds);
    if (roundTrips)
        m.trips = measureRoundTrips(form, ptys.masters[0]);
    // Let the last clicks reach the far ends before the next run empties them.
    QEventLoop pause;
    QTimer::singleShot(500, &pause, &QEventLoop::quit);
    pause.exec();
    drain(ptys.masters);
    return m;
}

// A listener whose queue is full: the kernel drops further SYNs, as a host that never answers.
struct SilentHost {
    int listener = -1;
    std::vector<int> fillers;
    quint16 port = 0;

    bool open()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 0) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        for (int i = 0; i < 4; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
            fillers.push_back(filler);
        }
        port = ntohs(address.sin_port);
        return true;
    }
    ~SilentHost()
    {
        for (int fd : fillers)
            ::close(fd);
        if (listener >= 0)
            ::close(listener);
    }
};

struct Stalls {
    std::vector<double> passMs;
    std::vector<double> pollMs;
    std::vector<double> broadcastMs;
};

// Passes, polls and broadcasts as the timers and clicks run them, for `seconds`.
Stalls measureStalls(const QMap<int, QString>& devices, double seconds)
{
    Stalls stalls;
    Window window(devices);
    Form1& form = window.form;
    const auto timed = [](std::vector<double>& into, const std::function<void()>& handler) {
        const Clock::time_point start = Clock::now();
        handler();
        into.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
    const Clock::time_point start = Clock::now();
    while (secondsSince(start) < seconds) {
        timed(stalls.passMs, [&form] { form.openingPass(); });
        timed(stalls.pollMs, [&form] { form.receivePoll(); });
        timed(stalls.broadcastMs, [&form] { form.clickPreset(0); });
        QEventLoop pause;
        QTimer::singleShot(100, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return stalls;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MemoryWatch memory;
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(1.0, QByteArray(argv[1]).toDouble()) : 10.0;
    const int rounds = argc > 3 ? std::max(1, QByteArray(argv[3]).toInt()) : 3;

    PtySet ptys;
    if (!ptys.open(kPorts))
        return 1;
    Ser2netServer ser2net;
    QMap<int, QString> served;
    for (int i = 0; i < kPorts; ++i)
        served.insert(i + 1, ser2net.serve(ptys.ptys[size_t(i)]->slavePath,
                                           Ser2netServer::Protocol::Rfc2217));
    if (!ser2net.start()) {
        std::printf("ser2net did not start\n");
        return 1;
    }

    std::printf("Network ports against local ones: 16 pseudo-terminals, opened locally and "
                "through one ser2net (RFC 2217) on 127.0.0.1\n\n");
    std::printf("a) fast sweep, far ends read as fast as they can, settings %s; %.1f s per run\n",
                kFastestLine, seconds);
    std::printf("  %5s  %12s  %14s  %7s  %8s  %9s  %10s  %7s  %15s  %s\n", "round", "local cmd/s",
                "network cmd/s", "ratio", "lowest", "local us", "network us", "ratio",
                "of the pace l/n", "streams local / network");
    RoundTrips localTrips;
    RoundTrips networkTrips;
    std::vector<double> cpuRatios;
    std::vector<double> paceShares;
    bool streamsOk = true;
    for (int round = 1; round <= rounds; ++round) {
        const Measured local = measure(ptys.devices, ptys, seconds, round == 1);
        const Measured network = measure(served, ptys, seconds, round == 1);
        if (round == 1) {
            localTrips = local.trips;
            networkTrips = network.trips;
        }
        if (!local.opened || !network.opened) {
            std::printf("not every port opened (local %s, network %s)\n",
                        local.opened ? "yes" : "no", network.opened ? "yes" : "no");
            return 1;
        }
        double localSum = 0;
        double networkSum = 0;
        double worst = 1e9;
        for (int i = 0; i < kPorts; ++i) {
            const double a = local.sweep.commandsPerSecond[size_t(i)];
            const double b = network.sweep.commandsPerSecond[size_t(i)];
            localSum += a;
            networkSum += b;
            worst = std::min(worst, a > 0 ? b / a : 0);
        }
        const double localCpu = local.sweep.cpuPerCommandUs;
        const double networkCpu = network.sweep.cpuPerCommandUs;
        cpuRatios.push_back(localCpu > 0 ? networkCpu / localCpu : 0);
        paceShares.push_back(network.sweep.bytesPerSecond / kFastestLineBytes);
        streamsOk = streamsOk && local.sweep.streamsOk && network.sweep.streamsOk;
        std::printf("  %5d  %12.0f  %14.0f  %7.3f  %8.3f  %9.1f  %10.1f  %7.3f  %6.3f / %6.3f  "
                    "%s / %s\n",
                    round, localSum, networkSum, localSum > 0 ? networkSum / localSum : 0, worst,
                    localCpu, networkCpu, cpuRatios.back(),
                    local.sweep.bytesPerSecond / kFastestLineBytes, paceShares.back(),
                    local.sweep.streamsOk ? "ok" : "FAILED",
                    network.sweep.streamsOk ? "ok" : "FAILED");
        printLoad("the local run", local.sweep.cpuStart, local.sweep.cpuEnd);
        printLoad("the network run", network.sweep.cpuStart, network.sweep.cpuEnd);
    }
    ser2net.stop();
    std::printf("  (cmd/s over all 16 ports; us: main thread CPU per command to all 16 ports; of "
                "the pace: bytes a port took a second / %.0f, local and network; ser2net is "
                "another process: its share shows under others)\n\n",
                kFastestLineBytes);
    Targets targets("bench_network_ports");
    targets.onMedian("main-thread CPU per command, ser2net / local", cpuRatios,
                     Targets::Aim::AtMost, 1.10, "%.2f");
    targets.onMedian("commands per second over ser2net / what its pacing allows", paceShares,
                     Targets::Aim::AtLeast, 0.95);
    targets.check("every stream as the sweep sent it", streamsOk, streamsOk ? "ok" : "FAILED");

    std::printf(
        "b) preset click to the reply in port 1's receive box, %d clicks at random moments\n",
        kClicks);
    std::printf("  %-22s  %8s  %8s  %8s  %8s\n", "ms", "p50", "p90", "max", "replies");
    const auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("  %-22s  %8.1f  %8.1f  %8.1f  %8zu\n", what, percentile(v, 50),
                    percentile(v, 90), maximum(v), v.size());
    };
    row("local: click to reply", localTrips.replyMs);
    row("network: click to reply", networkTrips.replyMs);
    row("local: click to wire", localTrips.wireMs);
    row("network: click to wire", networkTrips.wireMs);

    SilentHost silent;
    if (!silent.open()) {
        std::printf("could not make a host that never answers\n");
        return 1;
    }
    QMap<int, QString> unreachable;
    for (int i = 0; i < kPorts; ++i)
        unreachable.insert(i + 1, i % 2 == 0
                                      ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port)
                                      : QStringLiteral("tcp://bench-%1.invalid:4001").arg(i));
    const double stallSeconds = std::max(5.0, seconds / 2);
    const Stalls stalls = measureStalls(unreachable, stallSeconds);
    std::printf("\nc) 8 ports on a host that never answers, 8 on names that do not resolve; "
                "%.0f s of passes, polls and clicks\n",
                stallSeconds);
    std::printf("  %-22s  %8s  %8s  %8s  %8s\n", "ms", "p50", "p90", "max", "count");
    row("opening pass", stalls.passMs);
    row("receive poll", stalls.pollMs);
    row("preset click", stalls.broadcastMs);

    reportStopToPreset(argc > 2 ? std::max(1.0, QByteArray(argv[2]).toDouble()) : 60.0);

    const bool ok = streamsOk && localTrips.replyMs.size() == size_t(kClicks) &&
                    networkTrips.replyMs.size() == size_t(kClicks);
    memory.addRow(targets);
    targets.print();
    return ok && targets.allMet() ? 0 : 1;
}
