#pragma once

// What the benchmarks share: pseudo-terminals opened by hand (their far ends are driven from
// threads of our own, so the Qt-bound PtyPeer will not do), the sweeps' command streams and a
// checker for them, percentiles, resident memory and the load on the machine while measuring.

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A raw pseudo-terminal. The master is non-blocking and plays the controller; the slave is what
// the window opens by path. The slave descriptor is kept: it keeps the master from reading as
// hung up while the window has the port closed, and gives a plain writer its own way in.
struct Pty {
    int master = -1;
    int slave = -1;
    QString slavePath;

    bool open()
    {
        char name[PATH_MAX];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return false;
        }
        termios tio;
        if (::tcgetattr(slave, &tio) != 0) {
            std::perror("tcgetattr");
            return false;
        }
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave, TCSANOW, &tio) != 0) {
            std::perror("tcsetattr");
            return false;
        }
        for (int fd : {master, slave}) {
            if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
                ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
                std::perror("fcntl");
                return false;
            }
        }
        slavePath = QFile::decodeName(name);
        return true;
    }

    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
};

// Sixteen (or count) pseudo-terminals as ports 1 to count: the window opens the slaves, the
// bench's peers work the masters.
struct PtySet {
    std::vector<std::unique_ptr<Pty>> ptys;
    QMap<int, QString> devices; // port number -> slave path
    std::vector<int> masters;

    bool open(int count)
    {
        for (int i = 0; i < count; ++i) {
            ptys.push_back(std::make_unique<Pty>());
            if (!ptys.back()->open())
                return false;
            devices.insert(i + 1, ptys.back()->slavePath);
            masters.push_back(ptys.back()->master);
        }
        return true;
    }
};

// The commands of a sweep in the order it sends them: from the channel after firstChannel up to
// the end channel, one command each, then the end command, then again from the start channel.
class SweepSequence {
public:
    // The channel commands of a sweep of up to kMadeOnce channels are made once, here: the
    // checkers take one per command received, and making it afresh each time put the bench's own
    // allocations beside the sweep it measures. Longer ones are made as they come.
    static constexpr int kMadeOnce = 65536;

    SweepSequence(std::function<QByteArray(int)> channelCommand, int startChannel, int endChannel,
                  QByteArray endCommand)
        : channelCommand_(std::move(channelCommand)), startChannel_(startChannel),
          endChannel_(endChannel), endCommand_(std::move(endCommand))
    {
        if (endChannel > kMadeOnce)
            return;
        auto commands = std::make_shared<std::vector<QByteArray>>();
        for (int channel = 0; channel <= endChannel; ++channel)
            commands->push_back(channelCommand_(channel));
        commands_ = std::move(commands);
    }

    const QByteArray& next()
    {
        ++channel_;
        if (channel_ > endChannel_) {
            channel_ = startChannel_ - 1;
            return endCommand_;
        }
        if (commands_)
            return (*commands_)[std::size_t(channel_)];
        made_ = channelCommand_(channel_);
        return made_;
    }

private:
    std::function<QByteArray(int)> channelCommand_;
    std::shared_ptr<const std::vector<QByteArray>> commands_; // by channel, shared by copies
    QByteArray made_;
    int startChannel_;
    int endChannel_;
    QByteArray endCommand_;
    int channel_ = 0; // both sweeps start with their counter at 0
};

// Compares a received stream with the sequence as it arrives, in pieces cut anywhere, and counts
// the whole commands received. After the first difference it only counts bytes.
class StreamChecker {
public:
    explicit StreamChecker(SweepSequence sequence) : sequence_(std::move(sequence))
    {
        current_ = sequence_.next();
    }

    void feed(const char* data, qsizetype size)
    {
        bytes_ += size;
        while (ok_ && size > 0) {
            const qsizetype n = std::min(size, current_.size() - offset_);
            if (std::memcmp(data, current_.constData() + offset_, size_t(n)) != 0) {
                ok_ = false;
                mismatchAt_ = bytes_ - size;
                return;
            }
            offset_ += n;
            data += n;
            size -= n;
            if (offset_ == current_.size()) {
                ++commands_;
                current_ = sequence_.next();
                offset_ = 0;
            }
        }
    }

    // No difference so far and nothing torn: the stream ends after a whole command.
    bool isComplete() const { return ok_ && offset_ == 0; }
    bool ok() const { return ok_; }
    qint64 commands() const { return commands_; }
    qint64 bytes() const { return bytes_; }
    qint64 mismatchAt() const { return mismatchAt_; }

private:
    SweepSequence sequence_;
    QByteArray current_;
    qsizetype offset_ = 0;
    qint64 commands_ = 0;
    qint64 bytes_ = 0;
    qint64 mismatchAt_ = -1;
    bool ok_ = true;
};

// The worker thread of a set of far ends: runs its loop until stop(), which the loop notices
// through stopping(). Started again, it runs a fresh loop.
class PeerThread {
public:
    PeerThread() = default;
    ~PeerThread() { stop(); }
    PeerThread(const PeerThread&) = delete;
    PeerThread& operator=(const PeerThread&) = delete;

    void start(std::function<void()> loop)
    {
        stop();
        stopping_ = false;
        thread_ = std::thread(std::move(loop));
    }

    void stop()
    {
        if (!thread_.joinable())
            return;
        stopping_ = true;
        thread_.join();
    }

    bool stopping() const { return stopping_; }

private:
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The far ends of the ports as controllers that only listen: one thread reads every master and
// checks what arrives against the sweep's sequence. Reads as fast as it can, or paced like a
// UART: a port's bytes are taken at bytesPerSecond, and time in which the port had nothing to
// give is lost, as on a line that runs idle (credit for a late wake-up is kept up to 10 ms).
class ReadingPeers {
public:
    ReadingPeers(std::vector<int> masters, SweepSequence sequence)
        : masters_(std::move(masters)), sequence_(std::move(sequence)), bytes_(masters_.size()),
          commands_(masters_.size())
    {
    }
    ~ReadingPeers() { stop(); }
    ReadingPeers(const ReadingPeers&) = delete;
    ReadingPeers& operator=(const ReadingPeers&) = delete;

    // Starts afresh: counts from zero, every stream expected to go on from the given number of
    // commands into the sequence (a sweep restarted continues where it stood).
    void start(qint64 alreadySent = 0)
    {
        stop();
        SweepSequence from = sequence_;
        for (qint64 i = 0; i < alreadySent; ++i)
            from.next();
        checkers_.clear();
        for (std::size_t i = 0; i < masters_.size(); ++i) {
            checkers_.emplace_back(from);
            bytes_[i] = 0;
            commands_[i] = 0;
        }
        thread_.start([this] { run(); });
    }

    void stop() { thread_.stop(); }

    void setPace(long bytesPerSecond) { pace_ = bytesPerSecond; }

    int count() const { return int(masters_.size()); }
    qint64 bytes(int i) const { return bytes_[std::size_t(i)]; }
    qint64 commands(int i) const { return commands_[std::size_t(i)]; }
    // Only while stopped.
    const StreamChecker& checker(int i) const { return checkers_[std::size_t(i)]; }

    qint64 totalBytes() const
    {
        qint64 sum = 0;
        for (const auto& b : bytes_)
            sum += b;
        return sum;
    }

private:
    void take(std::size_t i, const char* data, ssize_t got)
    {
        checkers_[i].feed(data, got);
        bytes_[i] += got;
        commands_[i] = checkers_[i].commands();
    }

    void run()
    {
        const std::size_t n = masters_.size();
        std::vector<pollfd> fds(n);
        for (std::size_t i = 0; i < n; ++i)
            fds[i] = {masters_[i], POLLIN, 0};
        std::vector<double> credit(n, 0.0);
        auto buffer = std::make_unique<char[]>(kBuffer);
        auto last = Clock::now();
        timespec tick{};
        ::clock_gettime(CLOCK_MONOTONIC, &tick);
        while (!thread_.stopping()) {
            const long pace = pace_;
            if (pace == 0) {
                if (::poll(fds.data(), nfds_t(n), 20) <= 0)
                    continue;
                for (std::size_t i = 0; i < n; ++i) {
                    if (!(fds[i].revents & POLLIN))
                        continue;
                    ssize_t got;
                    while ((got = ::read(fds[i].fd, buffer.get(), kBuffer)) > 0)
                        take(i, buffer.get(), got);
                }
                last = Clock::now();
                ::clock_gettime(CLOCK_MONOTONIC, &tick);
                continue;
            }
            tick.tv_nsec += 1000000;
            if (tick.tv_nsec >= 1000000000) {
                tick.tv_nsec -= 1000000000;
                ++tick.tv_sec;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
            const auto now = Clock::now();
            const double dt = std::chrono::duration<double>(now - last).count();
            last = now;
            if (dt > 0.005) // fell behind: go on from now rather than catch up in a burst
                ::clock_gettime(CLOCK_MONOTONIC, &tick);
            for (std::size_t i = 0; i < n; ++i) {
                credit[i] = std::min(credit[i] + double(pace) * dt, double(pace) * 0.010);
                const auto want = static_cast<ssize_t>(credit[i]);
                if (want <= 0)
                    continue;
                const ssize_t got =
                    ::read(masters_[i], buffer.get(), size_t(std::min<ssize_t>(want, kBuffer)));
                if (got > 0) {
                    take(i, buffer.get(), got);
                    credit[i] -= double(got);
                }
                if (got < want)
                    credit[i] = 0; // the port ran dry: that line time is gone
            }
        }
    }

    static constexpr ssize_t kBuffer = 64 * 1024;
    std::vector<int> masters_;
    SweepSequence sequence_;
    std::vector<StreamChecker> checkers_;
    std::vector<std::atomic<qint64>> bytes_;
    std::vector<std::atomic<qint64>> commands_;
    std::atomic<long> pace_{0};
    PeerThread thread_;
};

// Nearest-rank percentile (0..100) of a sample; 0 for an empty one.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

inline double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// A field of /proc/self/status in KiB: VmRSS (resident now) or VmHWM (resident at its peak).
inline long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

inline double threadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The CPU figures of a stretch of time: this process, its main thread, and the whole machine
// (other programs share these cores, so their load is part of any figure measured here).
struct CpuSample {
    Clock::time_point when = Clock::now();
    double processSeconds = 0;
    double mainThreadSeconds = 0;
    unsigned long long machineBusy = 0;
    unsigned long long machineTotal = 0;

    // Call on the main thread.
    static CpuSample now()
    {
        CpuSample s;
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        s.processSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        s.mainThreadSeconds = threadCpuSeconds();
        QFile stat(QStringLiteral("/proc/stat"));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
            // cpu user nice system idle iowait irq softirq steal ...
            for (int i = 1; i < fields.size() && i <= 8; ++i) {
                const unsigned long long v = fields[i].toULongLong();
                s.machineTotal += v;
                if (i != 4 && i != 5)
                    s.machineBusy += v;
            }
        }
        return s;
    }
};

inline QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    const QList<QByteArray> f = file.readAll().split(' ');
    return f.size() >= 3 ? f[0] + " " + f[1] + " " + f[2] : "?";
}

// One line on the load: the machine's busy share of all its cores, what this process and its
// main thread took (in cores), and the load average. Kernel workers count as others, though
// part of their work (moving pty data) is done for us.
inline void printLoad(const char* what, const CpuSample& a, const CpuSample& b)
{
    const double wall = std::chrono::duration<double>(b.when - a.when).count();
    const double cores = double(::sysconf(_SC_NPROCESSORS_ONLN));
    const double machine = b.machineTotal > a.machineTotal
                               ? double(b.machineBusy - a.machineBusy) /
                                     double(b.machineTotal - a.machineTotal) * cores
                               : 0;
    const double process = (b.processSeconds - a.processSeconds) / wall;
    const double mainThread = (b.mainThreadSeconds - a.mainThreadSeconds) / wall;
    std::printf("  load during %s: machine busy %.2f of %.0f cores (this process %.2f, its main "
                "thread %.2f; other programs and kernel workers %.2f); load average %s\n",
                what, machine, cores, process, mainThread, std::max(0.0, machine - process),
                loadAverage().constData());
}

// The rows of the benchmarks' targets. A row measured in several runs is met when the median of
// its runs meets the aim; a row on a maximum (a worst case, a largest delay) only when every run
// does. Each row prints as one line beginning "  row ", which scripts/bench.sh gathers into its
// closing table.
class Targets {
public:
    enum class Aim { AtMost, Below, AtLeast };

    explicit Targets(std::string bench) : bench_(std::move(bench)) {}

    // fmt: how a figure prints ("%.2f"); unit: after the aim ("ms", "" for a ratio).
    void onMedian(const std::string& figure, const std::vector<double>& runs, Aim aim, double limit,
                  const char* fmt = "%.3f", const char* unit = "")
    {
        add(figure, runs, aim, limit, fmt, unit, false);
    }
    void onEveryRun(const std::string& figure, const std::vector<double>& runs, Aim aim,
                    double limit, const char* fmt = "%.3f", const char* unit = "")
    {
        add(figure, runs, aim, limit, fmt, unit, true);
    }
    // A row that holds or not (a run that did not complete counts as missed).
    void check(const std::string& figure, bool holds, const std::string& what)
    {
        rows_.push_back({figure, what, "", holds});
    }

    bool allMet() const
    {
        return std::all_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.met; });
    }

    void print() const
    {
        std::printf("\n  targets (each row met or MISSED)\n");
        for (const Row& r : rows_)
            std::printf("  row  %-20s %-62s %-30s %-26s %s\n", bench_.c_str(), r.figure.c_str(),
                        r.figures.c_str(), r.aim.c_str(), r.met ? "met" : "MISSED");
    }

private:
    struct Row {
        std::string figure;
        std::string figures; // each run's, and the median
        std::string aim;
        bool met;
    };

    static bool meets(double value, Aim aim, double limit)
    {
        switch (aim) {
        case Aim::AtMost:
            return value <= limit;
        case Aim::Below:
            return value < limit;
        case Aim::AtLeast:
            break;
        }
        return value >= limit;
    }

    void add(const std::string& figure, const std::vector<double>& runs, Aim aim, double limit,
             const char* fmt, const char* unit, bool everyRun)
    {
        const auto text = [fmt](double v) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, fmt, v);
            return std::string(buffer);
        };
        std::string figures;
        bool met = !runs.empty();
        for (double v : runs) {
            figures += (figures.empty() ? "" : " ") + text(v);
            if (everyRun)
                met = met && meets(v, aim, limit);
        }
        std::vector<double> sorted = runs;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted.empty() ? 0 : sorted[(sorted.size() - 1) / 2];
        if (!everyRun) {
            met = met && meets(median, aim, limit);
            if (runs.size() > 1)
                figures += " -> " + text(median);
        }
        const char* sign = aim == Aim::AtMost ? "<=" : aim == Aim::Below ? "<" : ">=";
        std::string aimText = std::string(sign) + " " + text(limit);
        if (*unit)
            aimText += std::string(" ") + unit;
        aimText += everyRun ? (runs.size() > 1 ? " (every run)" : "") : " (median)";
        rows_.push_back({figure, figures, aimText, met});
    }

    std::string bench_;
    std::vector<Row> rows_;
};

// The resident memory 10 s into the benchmark (taken by a thread of its own, whatever the main
// thread is busy with) against the end: the memory row of every benchmark.
class MemoryWatch {
public:
    MemoryWatch()
        : thread_([this] {
              const Clock::time_point start = Clock::now();
              while (!stopping_ && secondsSince(start) < 10)
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              if (!stopping_)
                  at10_ = statusKiB("VmRSS");
          })
    {
    }
    ~MemoryWatch() { stop(); }
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;

    // Growth in MiB from 10 s in to now; adds the row.
    void addRow(Targets& targets)
    {
        stop();
        const long end = statusKiB("VmRSS");
        std::printf("  resident memory: %ld KiB 10 s in, %ld KiB at the end\n", at10_.load(), end);
        if (at10_ < 0) {
            targets.check("resident memory growth after the first 10 s", false,
                          "the run was shorter than 10 s");
            return;
        }
        targets.onEveryRun("resident memory growth after the first 10 s, MB",
                           {double(end - at10_) / 1024.0}, Targets::Aim::AtMost, 2.0, "%.2f", "MB");
    }

private:
    void stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<long> at10_{-1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The load average before a benchmark measures, as bench.sh judges the machine idle by it.
inline void printLoadBefore()
{
    std::printf("load average before the run: %s\n", loadAverage().constData());
}

// The fast sweep's range command, as bytes.
inline QByteArray fastRangeCommand(int first)
{
    return ":::::::::::::::::::ZAVB" + QByteArray::number(first) + '-' +
           QByteArray::number(first + 60) + '.';
}

} // namespace bench
