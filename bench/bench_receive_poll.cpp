// The receive side under a flood: sixteen pseudo-terminals whose far ends each talk at the full
// 115200-baud line rate (11,520 bytes/s, a piece every 10 ms) in replies like "OK 12\r\n", some
// with GB18030 characters of two and four bytes.
//
// Poll cost: the window's receive poll (receivePoll) every 200 ms: what one poll costs, how long
// an
//    event posted to the window waits meanwhile (posted from another thread every 20 ms, as
//    input from the window system would be), and the resident memory.
// Byte-exact reads: the poll's own read, SerialPort::input() on all sixteen ports every 200 ms,
//    compared byte for byte with what the far ends wrote.
//
// Usage: bench_receive_poll [seconds]   (poll cost: three runs of default 10 s each; byte-exact
//        reads: once, as long)
#include "bench_window.h"

#include "main_window/window_timer.h"
#include "port_bank/wire_text.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <array>
#include <memory>
#include <mutex>

using namespace bench;

namespace {

constexpr int kPorts = 16;
constexpr long kLineRate = 11520; // 115200 baud, 10 bits a byte
constexpr int kPollMs = 200;
constexpr int kProbeMs = 20;

// A controller's replies, line after line: mostly ASCII, every 8th line with a two-byte GB18030
// character, every 32nd with a four-byte one.
QByteArray replyLine(int n)
{
    QByteArray line = "OK " + QByteArray::number(n);
    if (n % 32 == 0)
        line += " \x95\x32\x82\x36"; // U+20000
    else if (n % 8 == 0)
        line += " \xba\xc3"; // U+597D
    return line + "\r\n";
}

SweepSequence replies()
{
    return SweepSequence(replyLine, 0, INT_MAX, {});
}

// The reply stream of one port, taken in pieces of any size.
class ReplySource {
public:
    QByteArray take(qsizetype n)
    {
        QByteArray out;
        while (out.size() < n) {
            if (offset_ == line_.size()) {
                line_ = lines_.next();
                offset_ = 0;
            }
            const qsizetype piece = std::min(n - out.size(), line_.size() - offset_);
            out.append(line_.constData() + offset_, piece);
            offset_ += piece;
        }
        return out;
    }
    // The rest of the line begun, so that a stream never ends inside a character.
    QByteArray rest()
    {
        const QByteArray out = line_.mid(offset_);
        offset_ = line_.size();
        return out;
    }

private:
    SweepSequence lines_ = replies();
    QByteArray line_;
    qsizetype offset_ = 0;
};

// The far ends, one thread for all: every 10 ms each writes what the line rate has made due
// since it started. What the pty does not take at once waits for the next turn, so a slow
// reader shows as a backlog, never as loss.
class TalkingPeers {
public:
    explicit TalkingPeers(std::vector<int> masters)
        : masters_(std::move(masters)), written_(masters_.size())
    {
    }
    ~TalkingPeers() { stop(); }

    void start()
    {
        stop();
        for (auto& w : written_)
            w = 0;
        thread_.start([this] { run(); });
    }

    // Ends every stream after a whole line and writes out what is left.
    void stop() { thread_.stop(); }

    qint64 written(int i) const { return written_[size_t(i)]; }
    qint64 maxBacklog() const { return maxBacklog_; }

private:
    void writeOut(std::size_t i, QByteArray& pending)
    {
        while (!pending.isEmpty()) {
            const ssize_t put = ::write(masters_[i], pending.constData(), size_t(pending.size()));
            if (put <= 0)
                break;
            written_[i] += put;
            pending.remove(0, put);
        }
    }

    void run()
    {
        const std::size_t n = masters_.size();
        std::vector<ReplySource> sources(n);
        std::vector<QByteArray> pending(n);
        std::vector<qint64> produced(n, 0);
        maxBacklog_ = 0;
        const Clock::time_point begin = Clock::now();
        timespec tick{};
        ::clock_gettime(CLOCK_MONOTONIC, &tick);
        while (!thread_.stopping()) {
            tick.tv_nsec += 10 * 1000000;
            if (tick.tv_nsec >= 1000000000) {
                tick.tv_nsec -= 1000000000;
                ++tick.tv_sec;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
            const auto due = static_cast<qint64>(double(kLineRate) * secondsSince(begin));
            for (std::size_t i = 0; i < n; ++i) {
                pending[i] += sources[i].take(due - produced[i]);
                produced[i] = due;
                writeOut(i, pending[i]);
                maxBacklog_ = std::max<qint64>(maxBacklog_, pending[i].size());
            }
        }
        const Clock::time_point end = Clock::now();
        for (std::size_t i = 0; i < n; ++i) {
            pending[i] += sources[i].rest();
            while (!pending[i].isEmpty() && secondsSince(end) < 5) {
                writeOut(i, pending[i]);
                pollfd p{masters_[i], POLLOUT, 0};
                if (!pending[i].isEmpty())
                    ::poll(&p, 1, 50);
            }
        }
    }

    std::vector<int> masters_;
    std::vector<std::atomic<qint64>> written_;
    std::atomic<qint64> maxBacklog_{0};
    PeerThread thread_;
};

// An event posted from another thread, stamped with its posting time.
class ProbeEvent : public QEvent {
public:
    static QEvent::Type kind()
    {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    ProbeEvent() : QEvent(kind()) {}
    const Clock::time_point posted = Clock::now();
};

class ProbeReceiver : public QObject {
public:
    std::vector<double> latenciesMs;

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() != ProbeEvent::kind())
            return;
        const auto* probe = static_cast<ProbeEvent*>(event);
        latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - probe->posted).count());
    }
};

// Posts a probe to the receiver every kProbeMs until stopped.
class Prober {
public:
    explicit Prober(QObject* receiver)
        : thread_([this, receiver] {
              timespec tick{};
              ::clock_gettime(CLOCK_MONOTONIC, &tick);
              while (!stopping_) {
                  tick.tv_nsec += kProbeMs * 1000000;
                  if (tick.tv_nsec >= 1000000000) {
                      tick.tv_nsec -= 1000000000;
                      ++tick.tv_sec;
                  }
                  ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
                  QCoreApplication::postEvent(receiver, new ProbeEvent);
              }
          })
    {
    }
    ~Prober()
    {
        stopping_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Reads every port once and throws the text away: what is left over between the two phases.
void discardInput(Form1& form)
{
    runFor(0.3);
    for (int i = 0; i < kPorts; ++i) {
        QString chunk;
        form.portBank().port(i).input(chunk);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MemoryWatch memory;
    printLoadBefore();
    const double seconds = argc > 1 ? std::max(2.0, QByteArray(argv[1]).toDouble()) : 10.0;

    PtySet ports;
    if (!ports.open(kPorts))
        return 1;
    const QMap<int, QString>& devices = ports.devices;
    const std::vector<int>& masters = ports.masters;
    Window window(devices);
    Form1& form = window.form;
    // Opened and drawn once, as the program is before the first reply comes.
    if (!openPorts(form, kPorts))
        return 1;
    form.openingPassTimer()->setEnabled(false);
    // The poll is driven below on a timer of our own, at the window's interval, to time it.
    form.receivePollTimer()->setEnabled(false);
    TalkingPeers peers(masters);

    // Poll cost, three runs.
    std::printf("Receive poll under a flood: 16 pseudo-terminals, each far end writing %ld "
                "bytes/s in 10 ms pieces (offscreen window)\n\n",
                kLineRate);
    std::printf(
        "poll cost: the window's receive poll every %d ms for %.1f s a run; probe events posted "
        "every %d ms from another thread\n",
        form.receivePollTimer()->interval(), seconds, kProbeMs);
    std::printf("  %-34s  %8s  %8s  %8s  %8s  %s\n", "", "count", "median", "p99", "max",
                "worst as share of 200 ms");
    std::vector<double> worstShares;
    for (int round = 1; round <= 3; ++round) {
        std::vector<double> pollMs;
        ProbeReceiver receiver;
        const long rssStart = statusKiB("VmRSS");
        const CpuSample cpuStart = CpuSample::now();
        peers.start();
        {
            QTimer poll;
            poll.setTimerType(Qt::PreciseTimer);
            QObject::connect(&poll, &QTimer::timeout, &form, [&] {
                const Clock::time_point begin = Clock::now();
                form.receivePoll();
                pollMs.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            });
            poll.start(form.receivePollTimer()->interval());
            Prober prober(&receiver);
            runFor(seconds);
        }
        const CpuSample cpuEnd = CpuSample::now();
        const long rssEnd = statusKiB("VmRSS");
        peers.stop();
        discardInput(form);
        worstShares.push_back(100.0 * maximum(pollMs) / kPollMs);
        std::printf("  run %d\n", round);
        std::printf("  %-34s  %8zu  %8.3f  %8.3f  %8.3f  %.1f%%\n", "one poll, ms", pollMs.size(),
                    percentile(pollMs, 50), percentile(pollMs, 99), maximum(pollMs),
                    worstShares.back());
        std::printf("  %-34s  %8zu  %8.3f  %8.3f  %8.3f\n", "posted event to handled, ms",
                    receiver.latenciesMs.size(), percentile(receiver.latenciesMs, 50),
                    percentile(receiver.latenciesMs, 99), maximum(receiver.latenciesMs));
        std::printf("  (aim beside the targets: event latency p99 under 50 ms: %s)\n",
                    percentile(receiver.latenciesMs, 99) < 50 ? "met" : "missed");
        std::printf("  resident memory: %ld KiB at start, %ld KiB at end; far ends' largest "
                    "backlog %lld bytes\n",
                    rssStart, rssEnd, peers.maxBacklog());
        printLoad("poll cost", cpuStart, cpuEnd);
    }
    std::printf("\n");

    // Byte-exact reads: the poll's read on all ports, every byte compared with what was written.
    std::vector<StreamChecker> checkers;
    for (int i = 0; i < kPorts; ++i)
        checkers.emplace_back(replies());
    const auto readAll = [&] {
        for (int i = 0; i < kPorts; ++i) {
            QString chunk;
            form.portBank().port(i).input(chunk);
            const QByteArray bytes = encodeForWire(chunk);
            checkers[size_t(i)].feed(bytes.constData(), bytes.size());
        }
    };
    const double lossSeconds = seconds;
    const CpuSample lossStart = CpuSample::now();
    peers.start();
    {
        QTimer poll;
        poll.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll, &QTimer::timeout, &form, readAll);
        poll.start(kPollMs);
        runFor(lossSeconds);
    }
    const CpuSample lossEnd = CpuSample::now();
    peers.stop();
    runFor(0.3);
    readAll();

    std::printf("byte-exact reads: SerialPort::input() on all ports every %d ms for %.1f s, "
                "compared byte for "
                "byte\n",
                kPollMs, lossSeconds);
    std::printf("  %4s  %10s  %10s  %10s  %s\n", "port", "written", "read", "lost", "stream");
    bool allOk = true;
    for (int i = 0; i < kPorts; ++i) {
        const StreamChecker& c = checkers[size_t(i)];
        const bool ok = c.isComplete() && c.bytes() == peers.written(i);
        allOk = allOk && ok;
        std::printf("  %4d  %10lld  %10lld  %10lld  %s\n", i + 1, peers.written(i), c.bytes(),
                    peers.written(i) - c.bytes(),
                    ok       ? "ok"
                    : c.ok() ? "FAILED (incomplete)"
                             : "FAILED (differs)");
    }
    std::printf("  stream check: %s\n", allOk ? "ok" : "FAILED");
    printLoad("byte-exact reads", lossStart, lossEnd);
    Targets targets("bench_receive_poll");
    targets.onEveryRun("worst poll as a share of its 200 ms period, %", worstShares,
                       Targets::Aim::AtMost, 10, "%.1f", "%");
    targets.check("every byte read as written", allOk, allOk ? "ok" : "FAILED");
    memory.addRow(targets);
    targets.print();
    return allOk && targets.allMet() ? 0 : 1;
}
