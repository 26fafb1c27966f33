// The status check's cost under the fast sweep, against sixteen controllers of lightbench-sim:
// commands per second with a check every second against none, each port's answer times, and the
// time from a query to the verdict of its check.
//
// Usage: bench_unattended_check [seconds]   (per run, default 10)
#include "bench_window.h"

#include "session_log/local_timestamp.h"
#include "unattended_run/run_record.h"
#include "unattended_run/status_check.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

using namespace bench;

namespace {

constexpr int kPorts = 16;

struct Result {
    double commandsPerSecond = 0;
    std::vector<double> queryToVerdictMs;
    std::unique_ptr<RunRecord> record;
    int checks = 0;
};

// One run of the fast sweep on a fresh window over the simulator's links, checked every
// checkMs (0: never). The commands counted are the sweep's, without the queries.
Result runSweep(const QMap<int, QString>& links, int checkMs, double seconds)
{
    Result result;
    Window window(links);
    Form1& form = window.form;
    if (!openPorts(form, kPorts))
        return result;
    result.record = std::make_unique<RunRecord>(wallClockMs(), wallClockMs);
    StatusCheck check(form.portBank(), *result.record, {checkMs, 1000, std::nullopt},
                      [&] { return form.Text1[6]->text(); });
    QObject::connect(&check, &StatusCheck::judged, [&](const CheckJudgement&, qint64 ns) {
        result.queryToVerdictMs.push_back(double(ns) / 1e6);
    });
    std::uint64_t sentAtStart = 0;
    Clock::time_point start;
    driveFastSweep(
        form, 500, seconds,
        [&] {
            if (checkMs > 0)
                check.start();
            sentAtStart = form.portBank().port(0).counters().commandsSent;
            start = Clock::now();
        },
        [&] {
            const double elapsed = secondsSince(start);
            check.stop();
            const std::uint64_t sent = form.portBank().port(0).counters().commandsSent;
            result.checks = int(result.queryToVerdictMs.size());
            result.commandsPerSecond = double(sent - sentAtStart - result.checks) / elapsed;
        });
    return result;
}

double ms(std::int64_t micros)
{
    return double(micros) / 1000.0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;

    QTemporaryDir folder;
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QStringLiteral(LIGHTBENCH_SIM_PROGRAM),
                    {"--headless", "--controllers", "16", "--link", folder.path()});
    QByteArray printed;
    while (printed.count('\n') < kPorts && simulator.waitForReadyRead(10000))
        printed += simulator.readAllStandardOutput();
    if (printed.count('\n') < kPorts) {
        std::printf("lightbench-sim did not start\n");
        return 1;
    }
    QMap<int, QString> links;
    for (int n = 1; n <= kPorts; ++n)
        links.insert(n, folder.filePath(QStringLiteral("port%1").arg(n)));

    const CpuSample cpuStart = CpuSample::now();
    const Result without = runSweep(links, 0, seconds);
    const Result with = runSweep(links, 1000, seconds);
    simulator.terminate();
    simulator.waitForFinished(5000);
    if (!with.record)
        return 1;

    std::printf("Fast sweep to 16 simulated controllers, %.0f s a run\n\n", seconds);
    std::printf("| run | commands/s (each port) | checks | query to verdict p50 / max ms |\n");
    std::printf("|---|---:|---:|---:|\n");
    std::printf("| without checks | %.0f | - | - |\n", without.commandsPerSecond);
    std::printf("| --check 1 | %.0f (%.3f of without) | %d | %.1f / %.1f |\n\n",
                with.commandsPerSecond, with.commandsPerSecond / without.commandsPerSecond,
                with.checks, percentile(with.queryToVerdictMs, 50), maximum(with.queryToVerdictMs));
    std::printf("| port | answers | answer ms p50 | p99 | max | missed | differed |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < kPorts; ++i) {
        const PortRunRecord& port = with.record->port(i);
        const AnswerHistogram& times = port.answerTimes();
        std::printf("| %d | %llu | %.1f | %.1f | %.1f | %llu | %llu |\n", i + 1,
                    (unsigned long long)times.count(), ms(times.percentileMicros(0.5)),
                    ms(times.percentileMicros(0.99)), ms(times.maxMicros()),
                    (unsigned long long)port.missedCount(),
                    (unsigned long long)port.differedCount());
    }
    printLoad("both runs", cpuStart, CpuSample::now());
    return 0;
}
