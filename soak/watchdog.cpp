#include "watchdog.h"

#include "soak_clock.h"

#include <QMetaObject>
#include <QObject>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

Watchdog::Watchdog(QObject* windowThreadObject, std::function<std::uint64_t()> peerHeartbeat,
                   int limitMs)
    : target_(windowThreadObject), peerHeartbeat_(std::move(peerHeartbeat)),
      limitNs_(qint64(limitMs) * 1000000)
{
}

Watchdog::~Watchdog()
{
    stop();
}

void Watchdog::start()
{
    thread_ = std::thread([this] { run(); });
}

void Watchdog::stop()
{
    if (!thread_.joinable())
        return;
    stopWanted_ = true;
    thread_.join();
}

void Watchdog::run()
{
    std::uint64_t lastBeat = peerHeartbeat_();
    qint64 lastBeatNs = soakNowNs();
    while (!stopWanted_) {
        ::usleep(50000);
        const qint64 now = soakNowNs();
        const qint64 posted = postedNs_;
        if (posted < 0) {
            postedNs_ = now;
            QMetaObject::invokeMethod(
                target_,
                [this] {
                    const qint64 waited = soakNowNs() - postedNs_.exchange(-1);
                    if (waited > longestWaitNs_)
                        longestWaitNs_ = waited;
                },
                Qt::QueuedConnection);
        } else if (now - posted > limitNs_) {
            std::fprintf(stderr,
                         "lightbench_soak: HANG: the window's thread has not handled an event "
                         "for %.1f s (during %s)\n",
                         double(now - posted) / 1e9, phase_.load());
            std::fflush(stdout);
            std::abort();
        }

        const std::uint64_t beat = peerHeartbeat_();
        if (beat != lastBeat) {
            lastBeat = beat;
            lastBeatNs = now;
        } else if (now - lastBeatNs > limitNs_) {
            std::fprintf(stderr,
                         "lightbench_soak: HANG: the peer thread has not gone round its loop for "
                         "%.1f s (during %s)\n",
                         double(now - lastBeatNs) / 1e9, phase_.load());
            std::fflush(stdout);
            std::abort();
        }
    }
}
