#include "peer_bench.h"

#include "port_watch.h"
#include "soak_clock.h"
#include "stream_checker.h"

#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr qint64 kMs = 1000000;
// Replies the window has not taken yet, per port; past it a controller drops them, as a UART
// with a full transmit buffer would.
constexpr qsizetype kMaxQueuedOut = 64 * 1024;
// A line nobody has open reports a hang-up at once on every poll; it is looked at again after
// this long rather than spun on.
constexpr qint64 kHangUpRetryNs = 2 * kMs;
constexpr qint64 kFloodStepNs = 10 * kMs;
constexpr qsizetype kReadChunk = 64 * 1024;
// What one line may hand over in one turn, so that a busy port cannot starve the others.
constexpr qsizetype kReadPerTurn = 1024 * 1024;
const QByteArray kAnswer = QByteArrayLiteral("OK\r\n");

QByteArray floodPattern(int port)
{
    // Status lines with Chinese text, so that the window's decoder meets characters of several
    // bytes cut at every possible place between two reads.
    QString text;
    for (int line = 0; line < 100; ++line)
        text += QStringLiteral("P%1 STATUS 状态正常 #%2 ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n")
                    .arg(port + 1, 2, 10, QLatin1Char('0'))
                    .arg(line, 5, 10, QLatin1Char('0'));
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace

PeerBench::PeerBench(const QString& folder, int firstFaulty, std::uint32_t seed)
    : folder_(folder), firstFaulty_(firstFaulty), peers_(kPorts), random_(seed)
{
    for (int i = 0; i < kPorts; ++i) {
        Peer& peer = peers_[std::size_t(i)];
        peer.device =
            std::make_unique<PtyDevice>(folder_ + QStringLiteral("/ttyBENCH%1").arg(i + 1));
        peer.healthy = i < firstFaulty_;
        peer.floodPattern = floodPattern(i);
        peer.out.reserve(2 * kMaxQueuedOut);
    }
    readBuffer_.resize(kReadChunk);
}

PeerBench::~PeerBench()
{
    stop();
}

bool PeerBench::createDevices()
{
    for (Peer& peer : peers_) {
        if (!peer.device->open())
            return false;
    }
    return true;
}

QString PeerBench::linkPath(int index) const
{
    return peers_[std::size_t(index)].device->linkPath();
}

void PeerBench::attach(StreamChecker& checker, PortWatch& watch)
{
    checker_ = &checker;
    watch_ = &watch;
}

void PeerBench::start()
{
    thread_ = std::thread([this] { run(); });
    threadHandle_ = thread_.native_handle();
}

void PeerBench::stop()
{
    if (!thread_.joinable())
        return;
    stopWanted_ = true;
    thread_.join();
}

qint64 PeerBench::cpuNs() const
{
    clockid_t clock;
    timespec spent{};
    if (!running_ || pthread_getcpuclockid(threadHandle_, &clock) != 0 ||
        clock_gettime(clock, &spent) != 0)
        return finalCpuNs_;
    return qint64(spent.tv_sec) * 1000000000 + spent.tv_nsec;
}

qint64 PeerBench::randomMs(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random_) * kMs;
}

void PeerBench::run()
{
    running_ = true;
    floodStartNs_ = soakNowNs();
    std::vector<pollfd> polled;
    std::vector<int> polledPeer;
    polled.reserve(kPorts);
    polledPeer.reserve(kPorts);

    while (!stopWanted_) {
        heartbeat_.fetch_add(1, std::memory_order_relaxed);
        qint64 now = soakNowNs();
        runFaults(now);
        flood(now);

        polled.clear();
        polledPeer.clear();
        qint64 wakeNs =
            floodStartNs_ + (floodDoneBytes_ * 1000000000 / kFloodBytesPerSecond) + kFloodStepNs;
        if (nextFaultNs_ >= 0)
            wakeNs = std::min(wakeNs, nextFaultNs_);
        for (int i = 0; i < kPorts; ++i) {
            Peer& peer = peers_[std::size_t(i)];
            if (peer.away)
                continue;
            if (peer.out.size() > peer.outSent)
                flush(peer);
            if (peer.hungUpUntilNs > now) {
                wakeNs = std::min(wakeNs, peer.hungUpUntilNs);
                continue;
            }
            short events = POLLIN;
            if (peer.out.size() > peer.outSent)
                events |= POLLOUT;
            polled.push_back({peer.device->fd(), events, 0});
            polledPeer.push_back(i);
        }

        const qint64 waitNs = std::clamp<qint64>(wakeNs - now, 0, kFloodStepNs);
        const timespec timeout{0, long(waitNs)};
        const int ready = ::ppoll(polled.data(), polled.size(), &timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            qWarning("ppoll: %s", qPrintable(qt_error_string(errno)));
        if (ready <= 0)
            continue;
        now = soakNowNs();
        for (std::size_t k = 0; k < polled.size(); ++k) {
            const short revents = polled[k].revents;
            Peer& peer = peers_[std::size_t(polledPeer[k])];
            if (revents & POLLIN)
                readFrom(polledPeer[k], now);
            else if (revents & (POLLHUP | POLLERR))
                peer.hungUpUntilNs = now + kHangUpRetryNs;
            if (revents & POLLOUT)
                flush(peer);
        }
    }

    // The window has sent its last command: take what the lines still hold, until they have
    // been quiet for a while (the pty hands bytes over from a kernel worker, which a busy
    // machine may hold back), or at most a few seconds.
    const auto bytesIn = [this] {
        qint64 total = 0;
        for (const Peer& peer : peers_)
            total += peer.stats.bytesIn;
        return total;
    };
    const qint64 giveUpNs = soakNowNs() + 5000 * kMs;
    for (int quietRounds = 0; quietRounds < 20 && soakNowNs() < giveUpNs;) {
        const qint64 before = bytesIn();
        for (int i = 0; i < kPorts; ++i) {
            if (!peers_[std::size_t(i)].away)
                readFrom(i, soakNowNs());
        }
        quietRounds = bytesIn() == before ? quietRounds + 1 : 0;
        ::usleep(5000);
    }
    timespec spent{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
    finalCpuNs_ = qint64(spent.tv_sec) * 1000000000 + spent.tv_nsec;
    running_ = false;
}

void PeerBench::readFrom(int index, qint64 now)
{
    Peer& peer = peers_[std::size_t(index)];
    qsizetype taken = 0;
    while (taken < kReadPerTurn) {
        const ssize_t got = ::read(peer.device->fd(), readBuffer_.data(), std::size_t(kReadChunk));
        if (got > 0) {
            taken += got;
            if (!checking_) {
                peer.stats.bytesBefore += got;
                continue;
            }
            peer.stats.bytesIn += got;
            if (peer.healthy)
                checker_->feed(index, QByteArrayView(readBuffer_.constData(), got));
            answer(peer, readBuffer_.constData(), got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return;
        // EIO (or end of file): nobody has the line open now.
        if (got < 0 && errno != EIO)
            qWarning("read pty master: %s", qPrintable(qt_error_string(errno)));
        peer.hungUpUntilNs = now + kHangUpRetryNs;
        return;
    }
}

// A command ends with "." or where the next one starts (a ':' after other characters); each
// one gets an answer.
void PeerBench::answer(Peer& peer, const char* bytes, qsizetype size)
{
    qint64 answers = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c == ':') {
            if (peer.commandHasBody) {
                if (!peer.commandAnswered)
                    ++answers;
                peer.commandHasBody = false;
                peer.commandAnswered = false;
            }
        } else {
            peer.commandHasBody = true;
            if (c == '.' && !peer.commandAnswered) {
                ++answers;
                peer.commandAnswered = true;
            }
        }
    }
    peer.stats.answers += answers;
    for (qint64 n = 0; n < answers; ++n)
        queue(peer, kAnswer.constData(), kAnswer.size());
    if (answers > 0)
        flush(peer);
}

void PeerBench::queue(Peer& peer, const char* bytes, qsizetype size)
{
    if (peer.out.size() - peer.outSent + size > kMaxQueuedOut) {
        peer.stats.dropped += size;
        return;
    }
    if (peer.outSent > kMaxQueuedOut / 2) {
        peer.out.remove(0, peer.outSent);
        peer.outSent = 0;
    }
    peer.out.append(bytes, size);
}

void PeerBench::flush(Peer& peer)
{
    while (peer.out.size() > peer.outSent) {
        const ssize_t put = ::write(peer.device->fd(), peer.out.constData() + peer.outSent,
                                    std::size_t(peer.out.size() - peer.outSent));
        if (put > 0) {
            peer.outSent += put;
            peer.stats.bytesOut += put;
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno == EAGAIN)
            return;
        if (put < 0 && errno != EIO)
            qWarning("write pty master: %s", qPrintable(qt_error_string(errno)));
        // Nobody to take it.
        peer.stats.dropped += peer.out.size() - peer.outSent;
        break;
    }
    peer.out.clear();
    peer.outSent = 0;
}

void PeerBench::flood(qint64 now)
{
    const qint64 due = (now - floodStartNs_) * kFloodBytesPerSecond / 1000000000;
    const qint64 step = kFloodBytesPerSecond * kFloodStepNs / 1000000000;
    if (due - floodDoneBytes_ < step)
        return;
    // After a stall the flood goes on at its rate rather than catching up in one burst.
    const qsizetype size = qsizetype(std::min(due - floodDoneBytes_, 4 * step));
    floodDoneBytes_ = due;
    for (Peer& peer : peers_) {
        if (peer.away)
            continue;
        qsizetype left = size;
        while (left > 0) {
            const qsizetype part = std::min(left, peer.floodPattern.size() - peer.floodAt);
            queue(peer, peer.floodPattern.constData() + peer.floodAt, part);
            peer.floodAt = (peer.floodAt + part) % peer.floodPattern.size();
            left -= part;
        }
    }
}

void PeerBench::runFaults(qint64 now)
{
    if (!faultsWanted_) {
        if (awayIndex_ >= 0)
            giveBack(now);
        nextFaultNs_ = -1;
        return;
    }
    if (nextFaultNs_ < 0) {
        nextFaultNs_ = now + randomMs(500, 1500);
        return;
    }
    if (now < nextFaultNs_)
        return;
    if (awayIndex_ >= 0) {
        giveBack(now);
    } else if (!watch_->everyReturnSettled()) {
        // The last device given back is not open and green again yet (a loaded machine, or a
        // fault the table will show): it is not taken away before the window had it back.
        nextFaultNs_ = now + 10 * kMs;
    } else {
        takeAway(now);
    }
}

// One port at a time: a closed pty frees its number, and the next pty opened takes it, so with
// two away at once one port's stale link could lead to the other port's new device.
void PeerBench::takeAway(qint64 now)
{
    const int index = std::uniform_int_distribution<int>(firstFaulty_, kPorts - 1)(random_);
    const bool removePath = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
    Peer& peer = peers_[std::size_t(index)];
    watch_->noteLoss(index, now);
    peer.device->closeMaster();
    if (removePath)
        peer.device->removeLink();
    peer.away = true;
    peer.out.clear();
    peer.outSent = 0;
    peer.commandHasBody = false;
    peer.commandAnswered = false;
    awayIndex_ = index;
    ++losses_;
    ++(removePath ? lossesRemoved_ : lossesClosed_);
    nextFaultNs_ = now + randomMs(300, 2500);
}

void PeerBench::giveBack(qint64 now)
{
    Peer& peer = peers_[std::size_t(awayIndex_)];
    // Taken before the device exists, so that the window cannot have seen it earlier.
    watch_->noteReturn(awayIndex_, soakNowNs());
    if (!peer.device->open()) {
        nextFaultNs_ = now + 10 * kMs;
        return;
    }
    peer.away = false;
    peer.hungUpUntilNs = 0;
    awayIndex_ = -1;
    ++returns_;
    nextFaultNs_ = faultsWanted_ ? now + randomMs(1000, 3000) : -1;
}
