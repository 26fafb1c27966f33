// What the session log costs the fast sweep: sixteen pseudo-terminals whose far ends read as
// fast as they can, the sweep run without and with --log in the same process, three pairs
// (plain and logged, logged and plain, plain and logged; each run in a window of its own), and
// for the logged runs the bytes written to disk per second and any entries the log's queue
// turned away. Target: the logged sweep keeps at least 95 % of the plain sweep's rate (median
// of the three pairs).
//
// Usage: bench_session_log [seconds [pairs]]   (seconds per run, default 10; three pairs)
#include "bench_window.h"

#include "session_log/local_timestamp.h"
#include "session_log/session_recording.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

using namespace bench;

namespace {

constexpr int kPorts = 16;
constexpr int kWarmUpMs = 500;

qint64 bytesIn(const QString& directory)
{
    qint64 total = 0;
    QDirIterator it(directory, QDir::Files);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// Read a line at a time: the files hold hundreds of megabytes, and reading them whole would put
// the check's own memory into the memory row.
qint64 queueGaps(const QString& directory)
{
    qint64 entries = 0;
    QDirIterator it(directory, QDir::Files);
    const QByteArray gap(" -- log queue full: ");
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (const qsizetype at = line.indexOf(gap); at >= 0)
                entries += line.mid(at + gap.size()).split(' ').value(0).toLongLong();
        }
    }
    return entries;
}

struct Result {
    double commandsPerSecond = 0; // per port
    double mainCpuPerCommandUs = 0;
    double diskBytesPerSecond = 0;
    qint64 gapEntries = 0;
    bool streamsOk = false;
    qint64 commands = 0; // per port, in the stream at the end
};

// The fast sweep, started and stopped by clicks as the operator would; measured from kWarmUpMs
// after the start for `seconds`.
Result runSweep(Form1& form, ReadingPeers& peers, double seconds, qint64 alreadySent,
                const QString& logDirectory)
{
    Result result;
    peers.start(alreadySent);
    qint64 commandsAtStart = 0;
    qint64 diskAtStart = 0;
    CpuSample cpuStart;
    driveFastSweep(
        form, kWarmUpMs, seconds,
        [&] {
            commandsAtStart = peers.commands(0);
            cpuStart = CpuSample::now();
            if (!logDirectory.isEmpty())
                diskAtStart = bytesIn(logDirectory);
        },
        [&] {
            const CpuSample cpuEnd = CpuSample::now();
            const double elapsed =
                std::chrono::duration<double>(cpuEnd.when - cpuStart.when).count();
            const double commands = double(peers.commands(0) - commandsAtStart);
            result.commandsPerSecond = commands / elapsed;
            result.mainCpuPerCommandUs =
                commands > 0
                    ? (cpuEnd.mainThreadSeconds - cpuStart.mainThreadSeconds) / commands * 1e6
                    : 0;
            if (!logDirectory.isEmpty())
                result.diskBytesPerSecond = double(bytesIn(logDirectory) - diskAtStart) / elapsed;
        });
    settle(form, peers);
    peers.stop();
    result.streamsOk = true;
    result.commands = peers.checker(0).commands();
    for (int i = 0; i < kPorts; ++i)
        result.streamsOk = result.streamsOk && peers.checker(i).isComplete() &&
                           peers.checker(i).commands() == result.commands;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MemoryWatch memory;
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(1.0, QByteArray(argv[1]).toDouble()) : 10.0;
    const int pairs = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 3;

    PtySet ports;
    if (!ports.open(kPorts))
        return 1;
    // Each run has a window of its own, as each run of the program would, so that nothing one
    // run leaves in the window weighs on the next.
    const auto openWindow = [&ports]() -> std::unique_ptr<Window> {
        auto window = std::make_unique<Window>(ports.devices);
        return openPorts(window->form, kPorts) ? std::move(window) : nullptr;
    };
    std::unique_ptr<Window> first = openWindow();
    if (!first)
        return 1;
    ReadingPeers peers(ports.masters, fastSequence(first->form));
    first.reset();

    std::printf("Fast sweep to 16 pseudo-terminals without and with the session log, %.1f s per "
                "run after %d ms warm-up (offscreen window, timers on as in use)\n\n",
                seconds, kWarmUpMs);
    std::printf("  %-8s  %12s  %16s  %14s  %12s  %s\n", "run", "cmd/s a port", "main CPU/cmd us",
                "disk bytes/s", "queue gaps", "streams");

    std::vector<double> plainRates;
    std::vector<double> loggedRates;
    std::vector<double> diskRates;
    std::vector<double> plainCpu;
    std::vector<double> loggedCpu;
    bool ok = true;
    std::vector<double> pairRatios;
    // Plain, logged, logged, plain...: a drift in the machine's load over the runs weighs on both.
    for (int round = 0; round < 2 * pairs; ++round) {
        const bool logged = (round % 4 == 1) || (round % 4 == 2);
        QTemporaryDir logs;
        std::unique_ptr<Window> window = openWindow();
        if (!window)
            return 1;
        Form1& form = window->form;
        std::unique_ptr<SessionRecording> recording;
        if (logged) {
            // The bytes written are counted in the files: no rotation within a run.
            recording = std::make_unique<SessionRecording>(
                form.portBank(), SessionRecording::Options{logs.path(), qint64(1) << 40, {}},
                wallClockMs());
        }
        Result result = runSweep(form, peers, seconds, 0, logged ? logs.path() : QString());
        if (logged) {
            recording->finish();
            result.gapEntries = queueGaps(logs.path());
            loggedRates.push_back(result.commandsPerSecond);
            diskRates.push_back(result.diskBytesPerSecond);
            loggedCpu.push_back(result.mainCpuPerCommandUs);
        } else {
            plainRates.push_back(result.commandsPerSecond);
            plainCpu.push_back(result.mainCpuPerCommandUs);
        }
        ok = ok && result.streamsOk && result.gapEntries == 0;
        std::printf("  %-8s  %12.0f  %16.1f  %14.0f  %12lld  %s\n", logged ? "--log" : "plain",
                    result.commandsPerSecond, result.mainCpuPerCommandUs, result.diskBytesPerSecond,
                    result.gapEntries, result.streamsOk ? "ok" : "FAILED");
        if (round % 2 == 1)
            pairRatios.push_back(plainRates.back() > 0 ? loggedRates.back() / plainRates.back()
                                                       : 0);
    }
    const auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double x : v)
            sum += x;
        return v.empty() ? 0 : sum / double(v.size());
    };
    const double ratio = mean(plainRates) > 0 ? mean(loggedRates) / mean(plainRates) : 0;
    std::printf("\n  with --log / without, all runs: %.3f\n", ratio);
    // Steadier than the rates on a shared machine: what one command costs the window thread.
    std::printf("  window thread CPU per command, with --log / without: %.3f\n",
                mean(plainCpu) > 0 ? mean(loggedCpu) / mean(plainCpu) : 0);
    std::printf("  written to disk with --log: %.2f MB/s (%.0f lines/s of about %d bytes)\n",
                mean(diskRates) / 1e6, mean(loggedRates) * kPorts,
                mean(loggedRates) > 0 ? int(mean(diskRates) / (mean(loggedRates) * kPorts)) : 0);
    std::printf("  load average at the end: %s\n", loadAverage().constData());
    Targets targets("bench_session_log");
    targets.onMedian("fast sweep commands per second, with --log / without", pairRatios,
                     Targets::Aim::AtLeast, 0.95);
    targets.check("every stream whole, no queue gaps", ok, ok ? "ok" : "FAILED");
    memory.addRow(targets);
    targets.print();
    return ok && targets.allMet() ? 0 : 1;
}
