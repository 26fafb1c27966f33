// Replies faster than the window can show them: sixteen pseudo-terminals whose far ends write
// as fast as the ptys take (a controller stuck in a reply loop, a USB controller not held to a
// baud rate), while the timed sweep runs at 1 ms and clicks on the first preset (全部亮) are
// posted to the window from another thread, as the window system would deliver them.
//
// Runs, one after another, on the same window:
//   quiet     no replies: the sweep's rate and the click delay without the flood;
//   flood 1K  1 KiB writes of "OK\r\n" lines, as fast as the ptys take them;
//   flood 100 100-byte writes, as fast as the ptys take them;
//   92 KB/s   100-byte writes at 92,160 bytes/s a port (921600 baud 8N1): nothing may be dropped.
// For each: click-to-wire delay (posted click to the preset's bytes read at port 1's far end),
// the sweep's steps per second as port 1's far end reads them (and, beside them, the commands
// port 1 counted as sent, clicks included), resident memory, and per port the bytes received
// and dropped by the receive bound (the port's own counters).
//
// The two floods run three times each, in turn, for the targets' rows.
//
// Usage: bench_reply_flood [seconds]   (each flood run; default 30. The quiet and the 92 KB/s
//        runs take a third of it, at least 10 s.)
#include "bench_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <array>
#include <memory>

using namespace bench;

namespace {

constexpr int kPorts = 16;
constexpr long kFastLineRate = 92160;  // 921600 baud, 10 bits a byte
const QByteArray kPreset = ":::ZAVA."; // the text of the first preset, 全部亮
const QByteArray kSweepMark = "ZAVB";  // in every command of the timed sweep, end included

// Counts a pattern in a stream read in pieces cut anywhere.
class PatternCounter {
public:
    explicit PatternCounter(QByteArray pattern) : pattern_(std::move(pattern)) {}
    int feed(const char* data, qsizetype size)
    {
        tail_.append(data, size);
        int found = 0;
        qsizetype from = 0;
        for (qsizetype at; (at = tail_.indexOf(pattern_, from)) >= 0; from = at + pattern_.size())
            ++found;
        const qsizetype keep = std::min(tail_.size() - from, pattern_.size() - 1);
        tail_ = tail_.right(keep);
        return found;
    }

private:
    QByteArray pattern_;
    QByteArray tail_;
};

// The far ends, one thread for all and one more for port 1's commands. Each writes its replies
// (paced, or as fast as its pty takes them) and reads the commands the window sends, watching
// port 1's for the preset and the sweep's steps.
class FloodPeers {
public:
    explicit FloodPeers(std::vector<int> masters)
        : masters_(std::move(masters)), written_(masters_.size())
    {
    }
    ~FloodPeers() { stop(); }

    // writeSize 0: no replies at all. pace 0: as fast as the ptys take them.
    void start(qsizetype writeSize, long pace)
    {
        stop();
        writeSize_ = writeSize;
        pace_ = pace;
        for (auto& w : written_)
            w = 0;
        sweepSteps_ = 0;
        thread_.start([this] { run(); });
        watch_.start([this] { watchFirst(); });
    }

    void stop()
    {
        watch_.stop();
        thread_.stop();
    }

    qint64 written(int i) const { return written_[size_t(i)]; }
    qint64 sweepSteps() const { return sweepSteps_; }
    qint64 presetsSeen() const { return presetsSeen_; }
    Clock::time_point lastPresetAt() const
    {
        return Clock::time_point(Clock::duration(lastPresetAt_.load()));
    }

private:
    void readCommands(std::size_t i, char* buffer)
    {
        ssize_t got;
        while ((got = ::read(masters_[i], buffer, kBuffer)) > 0) {
            if (i != 0)
                continue;
            sweepSteps_ += sweep_.feed(buffer, got);
            if (preset_.feed(buffer, got) > 0) {
                lastPresetAt_ = Clock::now().time_since_epoch().count();
                ++presetsSeen_;
            }
        }
    }

    // Port 1's far end reads on a thread of its own, so that a preset is seen as it reaches the
    // wire: the flooding thread comes back to a port only after filling all sixteen, which
    // takes it tens of milliseconds on a busy machine, and would add that to the delay measured.
    void watchFirst()
    {
        auto buffer = std::make_unique<char[]>(kBuffer);
        while (!watch_.stopping()) {
            pollfd fd{masters_[0], POLLIN, 0};
            if (::poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN))
                readCommands(0, buffer.get());
        }
    }

    bool writeReply(std::size_t i)
    {
        const ssize_t put = ::write(masters_[i], reply_.constData(), size_t(reply_.size()));
        if (put > 0)
            written_[i] += put;
        return put == reply_.size();
    }

    void run()
    {
        const std::size_t n = masters_.size();
        reply_.clear();
        while (reply_.size() < writeSize_)
            reply_ += "OK\r\n";
        reply_.truncate(writeSize_);
        auto buffer = std::make_unique<char[]>(kBuffer);
        std::vector<pollfd> fds(n);
        std::vector<double> credit(n, 0.0);
        auto last = Clock::now();
        while (!thread_.stopping()) {
            const bool flood = writeSize_ > 0 && pace_ == 0;
            for (std::size_t i = 0; i < n; ++i)
                fds[i] = {masters_[i], short((i == 0 ? 0 : POLLIN) | (flood ? POLLOUT : 0)), 0};
            ::poll(fds.data(), nfds_t(n), pace_ > 0 ? 1 : 20);
            const auto now = Clock::now();
            const double dt = std::min(0.010, std::chrono::duration<double>(now - last).count());
            last = now;
            for (std::size_t i = 0; i < n; ++i) {
                if (i != 0 && (fds[i].revents & POLLIN))
                    readCommands(i, buffer.get());
                if (flood && (fds[i].revents & POLLOUT)) {
                    while (writeReply(i)) {
                    }
                } else if (writeSize_ > 0 && pace_ > 0) {
                    credit[i] += double(pace_) * dt;
                    while (credit[i] >= double(writeSize_) && writeReply(i))
                        credit[i] -= double(writeSize_);
                    credit[i] = std::min(credit[i], double(writeSize_) * 4);
                }
            }
        }
    }

    static constexpr ssize_t kBuffer = 64 * 1024;
    std::vector<int> masters_;
    std::vector<std::atomic<qint64>> written_;
    qsizetype writeSize_ = 0;
    long pace_ = 0;
    QByteArray reply_;
    PatternCounter sweep_{kSweepMark};
    PatternCounter preset_{kPreset};
    std::atomic<qint64> sweepSteps_{0};
    std::atomic<qint64> presetsSeen_{0};
    std::atomic<Clock::rep> lastPresetAt_{0};
    PeerThread thread_;
    PeerThread watch_; // port 1's reader
};

// Posts a click on the first preset 150 to 350 ms after the previous one reached the wire (or
// was given up after 2 s), and notes how long each took to reach port 1's far end.
class Clicker {
public:
    Clicker(CommandButton* button, const FloodPeers& peers)
        : thread_([this, button, &peers] {
              while (!stopping_) {
                  sleepMs(150 + int(QRandomGenerator::global()->bounded(200)));
                  if (stopping_)
                      break;
                  const qint64 seenBefore = peers.presetsSeen();
                  const Clock::time_point posted = Clock::now();
                  QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
                  while (peers.presetsSeen() == seenBefore && secondsSince(posted) < 2.0 &&
                         !stopping_)
                      sleepMs(1);
                  if (peers.presetsSeen() == seenBefore) {
                      ++missed_;
                      // Wait for the late one, so that it is not taken for the next click's.
                      while (peers.presetsSeen() == seenBefore && !stopping_)
                          sleepMs(5);
                      continue;
                  }
                  const std::lock_guard<std::mutex> lock(mutex_);
                  delaysMs_.push_back(
                      std::chrono::duration<double, std::milli>(peers.lastPresetAt() - posted)
                          .count());
              }
          })
    {
    }
    ~Clicker() { stop(); }
    void stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::vector<double> delaysMs()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return delaysMs_;
    }
    int missed() const { return missed_; }

private:
    static void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    std::mutex mutex_;
    std::vector<double> delaysMs_;
    std::atomic<int> missed_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct RunResult {
    QString name;
    double seconds = 0;
    std::vector<double> delaysMs;
    int missed = 0;
    double stepsPerSecond = 0;
    double countedPerSecond = 0; // commands port 1 counted as sent, clicks included
    long rssStart = 0;
    long rssAt10 = 0;
    long rssEnd = 0;
    std::array<PortCounters, kPorts> before{};
    std::array<PortCounters, kPorts> after{};
    std::array<qint64, kPorts> written{};
    CpuSample cpuStart;
    CpuSample cpuEnd;

    std::uint64_t received(int i) const
    {
        return after[size_t(i)].bytesReceived - before[size_t(i)].bytesReceived;
    }
    std::uint64_t dropped(int i) const
    {
        return after[size_t(i)].bytesDropped - before[size_t(i)].bytesDropped;
    }
};

RunResult run(Form1& form, FloodPeers& peers, const QString& name, double seconds,
              qsizetype writeSize, long pace)
{
    RunResult r;
    r.name = name;
    for (int i = 0; i < kPorts; ++i)
        r.before[size_t(i)] = form.portBank().port(i).counters();
    r.rssStart = statusKiB("VmRSS");
    r.cpuStart = CpuSample::now();
    peers.start(writeSize, pace);
    const Clock::time_point begin = Clock::now();
    {
        Clicker clicker(form.presetButton(0), peers);
        runFor(std::min(10.0, seconds));
        r.rssAt10 = statusKiB("VmRSS");
        if (seconds > 10)
            runFor(seconds - 10);
        r.seconds = secondsSince(begin);
        r.stepsPerSecond = double(peers.sweepSteps()) / r.seconds;
        r.countedPerSecond =
            double(form.portBank().port(0).counters().commandsSent - r.before[0].commandsSent) /
            r.seconds;
        r.rssEnd = statusKiB("VmRSS");
        r.cpuEnd = CpuSample::now();
        clicker.stop();
        r.delaysMs = clicker.delaysMs();
        r.missed = clicker.missed();
    }
    peers.stop();
    // What is still in the ptys goes to the window's next polls.
    runFor(0.5);
    for (int i = 0; i < kPorts; ++i) {
        r.after[size_t(i)] = form.portBank().port(i).counters();
        r.written[size_t(i)] = peers.written(i);
    }
    return r;
}

double megabytes(long kib)
{
    return double(kib) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(10.0, QByteArray(argv[1]).toDouble()) : 30.0;
    const double shortSeconds = std::max(10.0, seconds / 3);

    PtySet ports;
    if (!ports.open(kPorts))
        return 1;
    Window window(ports.devices);
    Form1& form = window.form;
    if (!openPorts(form, kPorts))
        return 1;
    if (form.presetBox(0)->text().toLatin1() != kPreset) {
        std::printf("the first preset is not %s\n", kPreset.constData());
        return 1;
    }
    // The sweep at 1 ms, started by its button; the interval box sets the opening pass's timer
    // too, as in use.
    form.sweepIntervalBox()->setText(QStringLiteral("1"));
    form.clickSweep();

    FloodPeers peers(ports.masters);
    std::vector<RunResult> runs;
    runs.push_back(run(form, peers, QStringLiteral("quiet"), shortSeconds, 0, 0));
    for (int round = 0; round < 3; ++round) {
        runs.push_back(
            run(form, peers, QStringLiteral("flood 1 KiB \"OK\\r\\n\""), seconds, 1024, 0));
        runs.push_back(run(form, peers, QStringLiteral("flood 100 B"), seconds, 100, 0));
    }
    runs.push_back(
        run(form, peers, QStringLiteral("92 KB/s, 100 B"), shortSeconds, 100, kFastLineRate));
    form.clickSweep();

    const double quietRate = runs[0].stepsPerSecond;
    std::printf("Replies faster than the window shows them: 16 pseudo-terminals, timed sweep at "
                "1 ms, clicks on 全部亮 posted from another thread (offscreen window)\n\n");
    std::printf("  %-22s  %6s  %6s  %8s  %8s  %8s  %6s  %10s  %6s  %8s  %24s\n", "run", "s",
                "clicks", "p50 ms", "p99 ms", "max ms", "missed", "sweep st/s", "of quiet",
                "sent/s", "RSS MiB start/10 s/end");
    for (const RunResult& r : runs) {
        std::printf("  %-22s  %6.1f  %6zu  %8.1f  %8.1f  %8.1f  %6d  %10.0f  %5.0f%%  %8.0f  "
                    "%8.1f/%6.1f/%6.1f\n",
                    qPrintable(r.name), r.seconds, r.delaysMs.size(), percentile(r.delaysMs, 50),
                    percentile(r.delaysMs, 99), maximum(r.delaysMs), r.missed, r.stepsPerSecond,
                    quietRate > 0 ? 100.0 * r.stepsPerSecond / quietRate : 0, r.countedPerSecond,
                    megabytes(r.rssStart), megabytes(r.rssAt10), megabytes(r.rssEnd));
    }
    // The first run of each flood, and the paced one.
    const std::size_t shown[] = {1, 2, runs.size() - 1};
    std::printf("\n  per port, KiB written by the far end / received / dropped by the bound\n");
    std::printf("  %4s", "port");
    for (std::size_t k : shown)
        std::printf("  %34s", qPrintable(runs[k].name));
    std::printf("\n");
    for (int i = 0; i < kPorts; ++i) {
        std::printf("  %4d", i + 1);
        for (std::size_t k : shown)
            std::printf("  %10.0f / %10.0f / %10.0f", double(runs[k].written[size_t(i)]) / 1024,
                        double(runs[k].received(i)) / 1024, double(runs[k].dropped(i)) / 1024);
        std::printf("\n");
    }

    // A click that never reached the wire counts as one that took for ever.
    const auto delays = [](const RunResult& r) {
        std::vector<double> d = r.delaysMs;
        d.insert(d.end(), size_t(r.missed), 1e9);
        return d;
    };
    std::vector<double> p99Kib;
    std::vector<double> p99Small;
    std::vector<double> maxSmall;
    for (std::size_t k = 1; k + 1 < runs.size(); ++k) {
        const std::vector<double> d = delays(runs[k]);
        if (k % 2 == 1) {
            p99Kib.push_back(percentile(d, 99));
        } else {
            p99Small.push_back(percentile(d, 99));
            maxSmall.push_back(maximum(d));
        }
    }
    std::uint64_t droppedAtLineRate = 0;
    for (int i = 0; i < kPorts; ++i)
        droppedAtLineRate += runs.back().dropped(i);
    std::printf("\n  aims beside the targets: every flood's sweep at least 50 %% of its quiet "
                "rate: %s\n",
                std::all_of(runs.begin() + 1, runs.end() - 1,
                            [&](const RunResult& r) { return r.stepsPerSecond >= 0.5 * quietRate; })
                    ? "met"
                    : "missed");
    Targets targets("bench_reply_flood");
    targets.onMedian("click to wire under the 100-byte flood, p99 ms", p99Small,
                     Targets::Aim::Below, 50, "%.1f", "ms");
    targets.onEveryRun("click to wire under the 100-byte flood, max ms", maxSmall,
                       Targets::Aim::Below, 100, "%.1f", "ms");
    targets.onMedian("click to wire under the 1 KiB flood, p99 ms", p99Kib, Targets::Aim::AtMost,
                     15, "%.1f", "ms");
    targets.check("92 KB/s a port: nothing dropped", droppedAtLineRate == 0,
                  std::to_string(droppedAtLineRate) + " bytes dropped");
    std::printf("\n");
    for (const RunResult& r : runs)
        printLoad(qPrintable(r.name), r.cpuStart, r.cpuEnd);
    // Each run's own first 10 s hold its start-up (a flood's buffers fill once); after them the
    // memory stays flat.
    std::vector<double> growths;
    for (const RunResult& r : runs)
        growths.push_back(megabytes(r.rssEnd - r.rssAt10));
    targets.onEveryRun("resident memory growth after each run's first 10 s, MB", growths,
                       Targets::Aim::AtMost, 2.0, "%.2f", "MB");
    targets.print();
    return targets.allMet() ? 0 : 1;
}
