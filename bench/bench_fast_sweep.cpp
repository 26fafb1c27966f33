// Fast sweep throughput on sixteen pseudo-terminals.
//
// a) The far ends read as fast as they can: commands per second from the window's fast sweep,
//    against the same commands written by a plain non-blocking write(2) loop, and the main
//    thread's CPU time per command of each. Three rounds, each a window run and a write(2) run.
// b) The far ends read at 115200 baud 8N1 (11,520 bytes/s): how much of that line rate the
//    sweep keeps busy. Once.
// Every received stream is checked against the fast sweep's own sequence.
//
// Usage: bench_fast_sweep [seconds [rounds [--no-paced]]]
//        (a: seconds per run, default 10, 3 rounds; b: twice that; --no-paced leaves b out, for
//        a profiler)
#include "bench_window.h"

#include <QApplication>

#include <array>
#include <memory>

using namespace bench;

namespace {

constexpr int kPorts = 16;
constexpr long kLineRate = 11520; // 115200 baud, 10 bits a byte

struct Counts {
    std::array<qint64, kPorts> commands{};
    std::array<qint64, kPorts> bytes{};
    static Counts of(const ReadingPeers& peers)
    {
        Counts c;
        for (int i = 0; i < kPorts; ++i) {
            c.commands[size_t(i)] = peers.commands(i);
            c.bytes[size_t(i)] = peers.bytes(i);
        }
        return c;
    }
};

struct Run {
    Counts atStart;
    Counts atEnd;
    double seconds = 0;
    CpuSample cpuStart;
    CpuSample cpuEnd;
    long rssStart = 0;
    long rssEnd = 0;
    bool settled = false;
    std::array<bool, kPorts> streamOk{};
    qint64 commandsAfterSettle = -1; // the same on every port, or -1
    qint64 bytesAfterSettle = 0;     // port 1

    double commandsPerSecond(int i) const
    {
        return double(atEnd.commands[size_t(i)] - atStart.commands[size_t(i)]) / seconds;
    }
    double bytesPerSecond(int i) const
    {
        return double(atEnd.bytes[size_t(i)] - atStart.bytes[size_t(i)]) / seconds;
    }
    bool allStreamsOk() const
    {
        return std::all_of(streamOk.begin(), streamOk.end(), [](bool ok) { return ok; }) &&
               commandsAfterSettle >= 0;
    }
};

void checkStreams(Run& run, ReadingPeers& peers)
{
    peers.stop();
    run.commandsAfterSettle = peers.checker(0).commands();
    run.bytesAfterSettle = peers.checker(0).bytes();
    for (int i = 0; i < kPorts; ++i) {
        const StreamChecker& c = peers.checker(i);
        run.streamOk[size_t(i)] = c.isComplete();
        if (!c.ok())
            std::printf("  port %d: stream differs from the sweep's sequence at byte %lld\n", i + 1,
                        c.mismatchAt());
        else if (!c.isComplete())
            std::printf("  port %d: stream ends inside a command\n", i + 1);
        if (c.commands() != run.commandsAfterSettle)
            run.commandsAfterSettle = -1;
    }
    if (run.commandsAfterSettle < 0)
        std::printf("  the ports did not all receive the same number of commands\n");
}

// The window's fast sweep, started and stopped by clicks on its button as the operator would:
// the stop click arrives through the sweep's own yield. The measured stretch starts warmUpMs
// after the start click. alreadySent: commands the sweep sent in earlier runs of this window.
Run runFastSweep(Form1& form, ReadingPeers& peers, double seconds, int warmUpMs, qint64 alreadySent)
{
    Run run;
    peers.start(alreadySent);
    driveFastSweep(
        form, warmUpMs, seconds,
        [&] {
            run.atStart = Counts::of(peers);
            run.cpuStart = CpuSample::now();
            run.rssStart = statusKiB("VmRSS");
        },
        [&] {
            run.atEnd = Counts::of(peers);
            run.cpuEnd = CpuSample::now();
            run.seconds =
                std::chrono::duration<double>(run.cpuEnd.when - run.cpuStart.when).count();
            run.rssEnd = statusKiB("VmRSS");
        });
    peers.setPace(0);
    run.settled = settle(form, peers);
    checkStreams(run, peers);
    return run;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put > 0) {
            done += put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            std::perror("write");
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return true;
}

// The same commands in the same order, one write(2) per command and port, round robin.
Run runPlainWrites(const std::vector<std::unique_ptr<Pty>>& ptys, Form1& form, ReadingPeers& peers,
                   double seconds)
{
    Run run;
    peers.start();
    SweepSequence sequence = fastSequence(form);
    run.atStart = Counts::of(peers);
    run.cpuStart = CpuSample::now();
    run.rssStart = statusKiB("VmRSS");
    bool ok = true;
    unsigned step = 0;
    while (ok) {
        // The clock is read every 64 commands only; one command takes well under a millisecond.
        if (++step % 64 == 0 && secondsSince(run.cpuStart.when) >= seconds)
            break;
        const QByteArray command = sequence.next();
        for (int i = 0; i < kPorts && ok; ++i)
            ok = writeAll(ptys[size_t(i)]->slave, command);
    }
    run.atEnd = Counts::of(peers);
    run.cpuEnd = CpuSample::now();
    run.seconds = std::chrono::duration<double>(run.cpuEnd.when - run.cpuStart.when).count();
    run.rssEnd = statusKiB("VmRSS");
    run.settled = settle(form, peers);
    checkStreams(run, peers);
    return run;
}

const char* okText(bool ok)
{
    return ok ? "ok" : "FAILED";
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MemoryWatch memory;
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(1.0, QByteArray(argv[1]).toDouble()) : 10.0;
    const int rounds = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 3;
    const bool paced = !(argc > 3 && QByteArray(argv[3]) == "--no-paced");

    PtySet ports;
    if (!ports.open(kPorts))
        return 1;
    Window window(ports.devices);
    Form1& form = window.form;
    // The opening pass once, by hand; its timer and the receive poll's keep running as in use.
    if (!openPorts(form, kPorts))
        return 1;

    std::printf("Fast sweep, 16 pseudo-terminals (offscreen window; receive poll and opening "
                "pass timers on, as in use)\n\n");

    // a) Far ends that read as fast as they can.
    ReadingPeers peers(ports.masters, fastSequence(form));
    // Independent of what else runs: the main thread's CPU time for one command to all ports.
    const auto cpuPerStep = [](const Run& run) {
        const double steps = double(run.atEnd.commands[0] - run.atStart.commands[0]);
        return steps > 0
                   ? (run.cpuEnd.mainThreadSeconds - run.cpuStart.mainThreadSeconds) / steps * 1e6
                   : 0.0;
    };
    const auto allPorts = [](const Run& run) {
        double sum = 0;
        for (int i = 0; i < kPorts; ++i)
            sum += run.commandsPerSecond(i);
        return sum;
    };
    std::printf("a) far ends read as fast as they can; %.1f s per run\n", seconds);
    std::printf("  %5s  %13s  %13s  %7s  %8s  %9s  %8s  %7s  %s\n", "round", "window cmd/s",
                "write(2) cmd/s", "ratio", "lowest", "window us", "write us", "ratio",
                "streams window / write(2)");
    std::vector<double> rateRatios;
    std::vector<double> cpuRatios;
    bool ok = true;
    qint64 sentByWindow = 0;
    for (int round = 1; round <= rounds; ++round) {
        const Run sweep = runFastSweep(form, peers, seconds, 0, sentByWindow);
        sentByWindow += std::max<qint64>(sweep.commandsAfterSettle, 0);
        const Run plain = runPlainWrites(ports.ptys, form, peers, seconds);
        double lowest = 1e9;
        for (int i = 0; i < kPorts; ++i)
            lowest = std::min(lowest, plain.commandsPerSecond(i) > 0
                                          ? sweep.commandsPerSecond(i) / plain.commandsPerSecond(i)
                                          : 0.0);
        const double a = allPorts(sweep);
        const double b = allPorts(plain);
        const double windowCpu = cpuPerStep(sweep);
        const double plainCpu = cpuPerStep(plain);
        rateRatios.push_back(b > 0 ? a / b : 0);
        cpuRatios.push_back(plainCpu > 0 ? windowCpu / plainCpu : 0);
        const bool streams =
            sweep.allStreamsOk() && sweep.settled && plain.allStreamsOk() && plain.settled;
        ok = ok && streams;
        std::printf("  %5d  %13.0f  %13.0f  %7.3f  %8.3f  %9.1f  %8.1f  %7.3f  %s / %s\n", round, a,
                    b, rateRatios.back(), lowest, windowCpu, plainCpu, cpuRatios.back(),
                    okText(sweep.allStreamsOk() && sweep.settled),
                    okText(plain.allStreamsOk() && plain.settled));
        printLoad("the window's run", sweep.cpuStart, sweep.cpuEnd);
        printLoad("the write(2) run", plain.cpuStart, plain.cpuEnd);
    }
    std::printf("  (cmd/s over all 16 ports; us: main thread CPU per command to all 16 ports; the "
                "peers are a thread of this process: process minus main thread is mostly "
                "theirs)\n\n");

    Targets targets("bench_fast_sweep");
    targets.onMedian("main-thread CPU per command to 16 ports, window / write(2)", cpuRatios,
                     Targets::Aim::AtMost, 1.10, "%.2f");
    targets.onMedian("commands per second, window / write(2)", rateRatios, Targets::Aim::AtLeast,
                     0.95);
    targets.check("every stream as the sweep sent it", ok, ok ? "ok" : "FAILED");

    // b) Far ends that read at the line rate.
    if (paced) {
        const double pacedSeconds = 2 * seconds;
        constexpr int kWarmUpMs = 1000;
        peers.setPace(kLineRate);
        const Run run = runFastSweep(form, peers, pacedSeconds, kWarmUpMs, sentByWindow);
        std::vector<double> shares;
        for (int i = 0; i < kPorts; ++i)
            shares.push_back(100.0 * run.bytesPerSecond(i) / double(kLineRate));
        std::printf("b) far ends read at %ld bytes/s (115200 baud 8N1); %.1f s measured after %d "
                    "ms warm-up\n",
                    kLineRate, run.seconds, kWarmUpMs);
        std::printf("  %-24s  %8s  %8s  %8s\n", "share of the line rate", "min", "median", "max");
        std::printf("  %-24s  %7.2f%%  %7.2f%%  %7.2f%%\n", "over the 16 ports",
                    *std::min_element(shares.begin(), shares.end()), percentile(shares, 50),
                    maximum(shares));
        std::printf("  resident memory: %ld KiB at start, %ld KiB at end (peak of the whole "
                    "program %ld KiB)\n",
                    run.rssStart, run.rssEnd, statusKiB("VmHWM"));
        std::printf("  queued at the stop, in the window and the kernel's pty buffers: %lld bytes "
                    "a port (%.1f s of line)\n",
                    run.bytesAfterSettle - run.atEnd.bytes[0],
                    double(run.bytesAfterSettle - run.atEnd.bytes[0]) / double(kLineRate));
        std::printf("  stream check: %s (%lld commands on every port)\n",
                    okText(run.allStreamsOk() && run.settled), run.commandsAfterSettle);
        printLoad("the paced run", run.cpuStart, run.cpuEnd);
        ok = ok && run.allStreamsOk() && run.settled;
    }

    memory.addRow(targets);
    targets.print();
    return ok && targets.allMet() ? 0 : 1;
}
