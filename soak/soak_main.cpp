// The soak run: the real window, headless, against sixteen pseudo-terminals for a given time
// under load, with ports lost and returned; prints a table of what it measured and exits
// non-zero when a check failed. A hang aborts the run (SIGABRT) with a message.
#include "load_driver.h"
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/text_box.h"
#include "peer_bench.h"
#include "port_bank/explicit_port_directory.h"
#include "port_bank/port_status.h"
#include "port_bank/wire_text.h"
#include "port_watch.h"
#include "process_stats.h"
#include "soak_clock.h"
#include "stream_checker.h"
#include "version.h"
#include "watchdog.h"

#include <QApplication>
#include <QDir>
#include <QMap>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr int kPorts = 16;
constexpr int kFirstFaulty = 12; // ports 1-12 are healthy, 13-16 are lost and returned
constexpr int kWatchdogMs = 2000;
constexpr qint64 kSecondNs = 1000000000;

struct Options {
    int seconds = 600;
    std::uint32_t seed = 0;
    double maxRssGrowthMiB = 8; // negative: report only
};

std::optional<Options> parseOptions(int argc, char* argv[])
{
    Options options;
    options.seed = std::uint32_t(soakNowNs());
    for (int i = 1; i < argc; ++i) {
        const QByteArray name = argv[i];
        const bool hasValue = i + 1 < argc;
        bool ok = hasValue;
        if (name == "--seconds" && hasValue) {
            options.seconds = QByteArray(argv[++i]).toInt(&ok);
            ok = ok && options.seconds > 0;
        } else if (name == "--seed" && hasValue) {
            options.seed = QByteArray(argv[++i]).toUInt(&ok);
        } else if (name == "--max-rss-growth-mb" && hasValue) {
            options.maxRssGrowthMiB = QByteArray(argv[++i]).toDouble(&ok);
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    return options;
}

// The window and the port code report through qWarning: each distinct message is shown once as
// it comes and counted, with numbers folded so that "port 13" and "port 14" count together.
QMutex messagesLock;
QMap<QString, int> messageCounts;

void countMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    static const QRegularExpression number(QStringLiteral("\\d+"));
    QString shape = message;
    shape.replace(number, QStringLiteral("#"));
    QMutexLocker locker(&messagesLock);
    if (messageCounts[shape]++ == 0)
        std::fprintf(stderr, "[window] %s\n", qPrintable(message));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

QString mib(qint64 kib)
{
    return QString::number(double(kib) / 1024, 'f', 1);
}

// Drives the phases of one run from a timer in the window's thread: wait until every healthy
// port is open, run the load for the given time, stop it and let the lines drain, check.
class SoakRun : public QObject {
public:
    SoakRun(const Options& options, Form1& form, PeerBench& peers, StreamChecker& checker,
            PortWatch& watch, LoadDriver& driver, Watchdog& watchdog)
        : options_(options), form_(form), peers_(peers), checker_(checker), watch_(watch),
          driver_(driver), watchdog_(watchdog)
    {
        startNs_ = soakNowNs();
        connect(&tick_, &QTimer::timeout, this, [this] { step(); });
        tick_.start(10);
    }

    // Filled in as the run goes.
    qint64 loadNs = 0;
    qint64 rssStartKiB = -1, rssEndKiB = -1, rssMaxKiB = -1;
    double warmUpSeconds = 0;
    qint64 processCpuNs = 0, windowCpuNs = 0, peerCpuNs = 0;
    QStringList runFaults;

private:
    enum class Phase { WaitingForPorts, Loading, Draining, Done };

    bool healthyPortsReady() const
    {
        for (int i = 0; i < kFirstFaulty; ++i) {
            if (!form_.portBank().port(i).isOpen() ||
                form_.statusLabel(std::size_t(i))->foreColor() != PortStatusColour::Green)
                return false;
        }
        return true;
    }

    void step()
    {
        const qint64 now = soakNowNs();
        switch (phase_) {
        case Phase::WaitingForPorts:
            if (healthyPortsReady())
                startLoad(now);
            else if (now - startNs_ > 20 * kSecondNs)
                stopRun(QStringLiteral("the healthy ports did not all open within 20 s"));
            break;
        case Phase::Loading:
            sampleMemory(now);
            if (now - loadStartNs_ >= qint64(options_.seconds) * kSecondNs)
                endLoad(now);
            break;
        case Phase::Draining:
            // The last device given back may only just have returned, and the loss before it
            // may only now be noticed: the ports get the time to open again before they are
            // judged. One still not back by the deadline is reported by the table.
            if (drained() && watch_.everyReturnSettled() && now - drainStartNs_ > kSecondNs / 2)
                finish();
            else if (now - drainStartNs_ > 15 * kSecondNs && drained())
                finish();
            else if (now - drainStartNs_ > 15 * kSecondNs)
                stopRun(QStringLiteral("output to the healthy ports did not drain within 15 s"));
            break;
        case Phase::Done:
            break;
        }
    }

    void startLoad(qint64 now)
    {
        phase_ = Phase::Loading;
        watchdog_.setPhase("the load");
        loadStartNs_ = now;
        nextSampleNs_ = now;
        warmUpSeconds = std::clamp(options_.seconds / 10.0, 10.0, 60.0);
        warmUpSeconds = std::min(warmUpSeconds, options_.seconds / 2.0);
        processCpu0_ = ProcessStats::processCpuNs();
        windowCpu0_ = ProcessStats::threadCpuNs();
        peerCpu0_ = peers_.cpuNs();
        watch_.startLoad();
        peers_.startChecking();
        driver_.start();
        peers_.startFaults();
    }

    void sampleMemory(qint64 now)
    {
        if (now < nextSampleNs_)
            return;
        nextSampleNs_ += kSecondNs;
        const qint64 rss = ProcessStats::residentKiB();
        if (now - loadStartNs_ >= qint64(warmUpSeconds * 1e9)) {
            if (rssStartKiB < 0)
                rssStartKiB = rss;
            rssMaxKiB = std::max(rssMaxKiB, rss);
        }
    }

    void endLoad(qint64 now)
    {
        loadNs = now - loadStartNs_;
        processCpuNs = ProcessStats::processCpuNs() - processCpu0_;
        windowCpuNs = ProcessStats::threadCpuNs() - windowCpu0_;
        peerCpuNs = peers_.cpuNs() - peerCpu0_;
        rssEndKiB = ProcessStats::residentKiB();
        rssMaxKiB = std::max(rssMaxKiB, rssEndKiB);
        if (rssStartKiB < 0)
            rssStartKiB = rssEndKiB;
        driver_.stop();
        peers_.endFaults();
        phase_ = Phase::Draining;
        watchdog_.setPhase("the drain after the load");
        drainStartNs_ = now;
    }

    bool drained() const
    {
        if (form_.fastSweepButton()->tag() == QStringLiteral("1"))
            return false;
        for (int i = 0; i < kFirstFaulty; ++i) {
            if (form_.portBank().port(i).pendingOutput() > 0)
                return false;
        }
        return true;
    }

    void finish()
    {
        for (int i = 0; i < kFirstFaulty; ++i) {
            if (!form_.portBank().port(i).isOpen())
                runFaults.append(
                    QStringLiteral("healthy port %1 is not open at the end").arg(i + 1));
        }
        stopRun(QString());
    }

    void stopRun(const QString& fault)
    {
        if (!fault.isEmpty())
            runFaults.append(fault);
        if (phase_ == Phase::Loading)
            endLoad(soakNowNs());
        phase_ = Phase::Done;
        tick_.stop();
        watchdog_.setPhase("the checks");
        peers_.stop();
        checker_.finish(driver_.presetClicks(), driver_.markersSent());
        watchdog_.setPhase("the exit");
        // Out through the exit button, as the operator leaves.
        form_.exitButton()->click();
    }

    const Options& options_;
    Form1& form_;
    PeerBench& peers_;
    StreamChecker& checker_;
    PortWatch& watch_;
    LoadDriver& driver_;
    Watchdog& watchdog_;
    QTimer tick_;
    Phase phase_ = Phase::WaitingForPorts;
    qint64 startNs_ = 0, loadStartNs_ = 0, drainStartNs_ = 0, nextSampleNs_ = 0;
    qint64 processCpu0_ = 0, windowCpu0_ = 0, peerCpu0_ = 0;
};

class Table {
public:
    void row(const QString& check, const QString& measured, const QString& limit = QString(),
             std::optional<bool> pass = std::nullopt)
    {
        if (pass && !*pass)
            failed_ = true;
        std::printf("%-46s %-40s %-10s %s\n", qPrintable(check), qPrintable(measured),
                    qPrintable(limit), pass ? (*pass ? "PASS" : "FAIL") : "-");
    }
    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

private:
    bool failed_ = false;
};

int report(const Options& options, const SoakRun& run, const PeerBench& peers,
           const StreamChecker& checker, const PortWatch& watch, const LoadDriver& driver,
           const Watchdog& watchdog)
{
    const double seconds = std::max(1e-9, double(run.loadNs) / 1e9);
    const auto percent = [&](qint64 ns) {
        return QString::number(100.0 * double(ns) / double(std::max<qint64>(run.loadNs, 1)), 'f',
                               0) +
               QLatin1Char('%');
    };
    const PortWatch::Results ports = watch.results();

    std::printf("\nLightbench soak: %.0f s of load, seed %u\n", seconds, options.seed);
    std::printf("  ports 1-%d healthy (never touched), %d-%d lost and returned one at a time\n",
                kFirstFaulty, kFirstFaulty + 1, kPorts);
    std::printf("  load: timed sweep at 1 ms; fast sweep switched %d times; %lld preset clicks; "
                "%d edits (%d sweep boxes, %d interval, %d settings)\n",
                driver.fastToggles(), driver.presetClickCount(), driver.edits(),
                driver.sweepEdits(), driver.intervalEdits(), driver.settingsEdits());
    std::printf("  peers: read as fast as the window writes, answer every command, flood %d B/s "
                "each\n\n",
                PeerBench::kFloodBytesPerSecond);

    Table table;
    std::printf("%-46s %-40s %-10s %s\n", "check", "measured", "limit", "result");
    table.row(
        QStringLiteral("commands lost or reordered, healthy ports"),
        QStringLiteral("%1 of %2 streams differ").arg(checker.divergedStreams()).arg(kFirstFaulty),
        QStringLiteral("0"), checker.divergedStreams() == 0);
    table.row(QStringLiteral("sweep order and preset count faults"),
              QString::number(checker.sequenceFaults() + checker.presetFaults()),
              QStringLiteral("0"), checker.sequenceFaults() + checker.presetFaults() == 0);
    table.row(QStringLiteral("healthy ports that left green"),
              QString::number(ports.healthyNotGreen), QStringLiteral("0"),
              ports.healthyNotGreen == 0);
    table.row(QStringLiteral("run faults (start, drain, end)"),
              QString::number(run.runFaults.size()), QStringLiteral("0"), run.runFaults.isEmpty());
    // A wait of kWatchdogMs ends the run before this table: reported, not judged.
    table.row(QStringLiteral("longest wait of a posted event"),
              QStringLiteral("%1 ms (hang: abort at %2 ms)")
                  .arg(watchdog.longestWaitMs())
                  .arg(kWatchdogMs));
    table.row(QStringLiteral("port losses / returns"),
              QStringLiteral("%1 / %2 (%3 peer closed, %4 path removed)")
                  .arg(peers.losses())
                  .arg(peers.returns())
                  .arg(peers.lossesClosed())
                  .arg(peers.lossesRemoved()));
    table.row(QStringLiteral("losses noticed (port closed)"),
              QStringLiteral("%1 of %2").arg(ports.lossesClosed).arg(ports.losses),
              QStringLiteral("all"), ports.lossesClosed == ports.losses && ports.losses > 0);
    // A device back before the next pass may never show gray: how often the label was seen
    // leaving green is a figure, not a check.
    table.row(QStringLiteral("losses seen on the label (left green)"),
              QStringLiteral("%1 of %2; median %3 ms, max %4 ms")
                  .arg(ports.lossesShown)
                  .arg(ports.losses)
                  .arg(median(ports.shownLostMs), 0, 'f', 1)
                  .arg(maximum(ports.shownLostMs), 0, 'f', 1));
    table.row(QStringLiteral("returns green again (port open)"),
              QStringLiteral("%1 of %2").arg(ports.returnsGreen).arg(ports.returns),
              QStringLiteral("all"), ports.returnsGreen == ports.returns && ports.returns > 0);
    table.row(QStringLiteral("return to green, interval 1 ms"),
              QStringLiteral("median %1 ms, max %2 ms (%3)")
                  .arg(median(ports.greenMs), 0, 'f', 1)
                  .arg(maximum(ports.greenMs), 0, 'f', 1)
                  .arg(ports.greenMs.size()));
    table.row(QStringLiteral("return to green, interval box edited"),
              QStringLiteral("median %1 ms, max %2 ms (%3)")
                  .arg(median(ports.slowGreenMs), 0, 'f', 1)
                  .arg(maximum(ports.slowGreenMs), 0, 'f', 1)
                  .arg(ports.slowGreenMs.size()));
    table.row(QStringLiteral("faulty labels while away: gray/red/blue/other"),
              QStringLiteral("%1/%2/%3/%4; green while away %5")
                  .arg(ports.awayColours[0])
                  .arg(ports.awayColours[1])
                  .arg(ports.awayColours[2])
                  .arg(ports.awayColours[3])
                  .arg(ports.greenWhileAway));
    const qint64 growthKiB = run.rssEndKiB - run.rssStartKiB;
    const bool memoryChecked = options.maxRssGrowthMiB >= 0;
    table.row(
        QStringLiteral("VmRSS after %1 s warm-up / end / max").arg(run.warmUpSeconds, 0, 'f', 0),
        QStringLiteral("%1 / %2 / %3 MiB (%4%5)")
            .arg(mib(run.rssStartKiB), mib(run.rssEndKiB), mib(run.rssMaxKiB))
            .arg(growthKiB >= 0 ? QStringLiteral("+") : QString())
            .arg(mib(growthKiB)),
        memoryChecked ? QStringLiteral("+%1 MiB").arg(options.maxRssGrowthMiB) : QString(),
        memoryChecked ? std::optional<bool>(double(growthKiB) / 1024 <= options.maxRssGrowthMiB)
                      : std::nullopt);
    table.row(
        QStringLiteral("CPU average: process / window / peers"),
        QStringLiteral("%1 / %2 / %3 of one core")
            .arg(percent(run.processCpuNs), percent(run.windowCpuNs), percent(run.peerCpuNs)));
    const auto perSecond = [&](qint64 count) {
        return QString::number(double(count) / seconds, 'f', 0);
    };
    table.row(QStringLiteral("commands sent per second"),
              QStringLiteral("%1 (timed %2, fast %3, wraps %4, other %5)")
                  .arg(perSecond(checker.commands()), perSecond(checker.timedCommands()),
                       perSecond(checker.fastCommands()), perSecond(checker.wraps()),
                       perSecond(checker.commands() - checker.timedCommands() -
                                 checker.fastCommands() - checker.wraps())));
    table.row(QStringLiteral("sweep wraps (ambiguous) / edit markers"),
              QStringLiteral("%1 (%2) / %3")
                  .arg(checker.wraps())
                  .arg(checker.ambiguousWraps())
                  .arg(checker.markersSeen()));

    std::printf("\n%-5s %14s %14s %12s %14s %14s\n", "port", "bytes to peer", "bytes replied",
                "answers", "replies lost", "before load");
    for (int i = 0; i < kPorts; ++i) {
        const PeerBench::PortStats& stats = peers.stats(i);
        std::printf("%-5d %14lld %14lld %12lld %14lld %14lld%s\n", i + 1, stats.bytesIn,
                    stats.bytesOut, stats.answers, stats.dropped, stats.bytesBefore,
                    i < kFirstFaulty ? "" : "  (faulty)");
    }
    // Healthy streams are compared by the checker; this says the comparison had data.
    if (peers.stats(0).bytesIn == 0) {
        std::printf("no bytes reached port 1\n");
        table.fail();
    }

    const QStringList faults = checker.faultLog() + run.runFaults + ports.notes;
    if (!faults.isEmpty()) {
        std::printf("\nFaults and notes:\n");
        for (const QString& fault : faults)
            std::printf("  %s\n", qPrintable(fault));
    }
    {
        QMutexLocker locker(&messagesLock);
        if (!messageCounts.isEmpty()) {
            std::printf("\nMessages from the window (numbers folded):\n");
            for (auto it = messageCounts.cbegin(); it != messageCounts.cend(); ++it)
                std::printf("  %6d x %s\n", it.value(), qPrintable(it.key()));
        }
    }
    std::printf("\nRESULT: %s\n", table.failed() ? "FAIL" : "PASS");
    return table.failed() ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: lightbench_soak [--seconds N] [--seed N] "
                             "[--max-rss-growth-mb MB (negative: report only)]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(countMessage);

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral(LIGHTBENCH_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LIGHTBENCH_VERSION));

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/lightbench-soak-XXXXXX"));
    PeerBench peers(folder.path(), kFirstFaulty, options->seed + 1);
    if (!folder.isValid() || !peers.createDevices()) {
        std::fprintf(stderr, "lightbench_soak: cannot create the pseudo-terminals\n");
        return 1;
    }
    QMap<int, QString> devices;
    for (int i = 0; i < kPorts; ++i)
        devices.insert(i + 1, peers.linkPath(i));

    // As main() builds the window, with the sixteen links given as --port would give them.
    ExplicitPortDirectory directory(devices);
    Form1 form(directory);

    SweepBoxes boxes;
    boxes.prefix = encodeForWire(form.prefixBox()->text());
    boxes.endCommand = encodeForWire(form.endCommandBox()->text());
    boxes.startChannel = form.startChannelBox()->text().toInt();
    boxes.endChannel = form.endChannelBox()->text().toInt();
    StreamChecker checker(kFirstFaulty, boxes);
    PortWatch watch(form, kFirstFaulty);
    LoadDriver driver(form, checker, watch, boxes, options->seed);
    peers.attach(checker, watch);
    Watchdog watchdog(
        &watch, [&peers] { return peers.heartbeat(); }, kWatchdogMs);

    std::printf("lightbench_soak: %d s, seed %u, pseudo-terminals in %s\n", options->seconds,
                options->seed, qPrintable(folder.path()));
    peers.start();
    watchdog.start();
    SoakRun run(*options, form, peers, checker, watch, driver, watchdog);
    application.exec();
    watchdog.stop();
    peers.stop();
    return report(*options, run, peers, checker, watch, driver, watchdog);
}
