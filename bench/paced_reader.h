#pragma once

// A far line that takes bytes at its speed: a thread reads a pty master at a set number of
// bytes a second, as a serial line of that speed drains, and notes when a marker first arrives
// after arm().

#include "bench_support.h"

#include <QByteArray>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace bench {

class PacedReader {
public:
    PacedReader(int master, int bytesPerSecond, QByteArray marker)
        : master_(master), rate_(bytesPerSecond), marker_(std::move(marker))
    {
        thread_ = std::thread([this] { run(); });
    }
    ~PacedReader()
    {
        stopping_ = true;
        thread_.join();
    }
    PacedReader(const PacedReader&) = delete;
    PacedReader& operator=(const PacedReader&) = delete;

    // Looks for the marker from now on.
    void arm() { armed_ = true; }
    bool found() const { return foundAt_.load() != 0; }
    Clock::time_point foundAt() const
    {
        return Clock::time_point(Clock::duration(foundAt_.load()));
    }
    qint64 bytes() const { return bytes_; }

private:
    void run()
    {
        QByteArray tail;
        double allowance = 0;
        Clock::time_point last = Clock::now();
        char buffer[4096];
        while (!stopping_) {
            ::usleep(1000);
            const Clock::time_point now = Clock::now();
            allowance =
                std::min(allowance + rate_ * std::chrono::duration<double>(now - last).count(),
                         double(sizeof buffer));
            last = now;
            if (allowance < 1)
                continue;
            const ssize_t got = ::read(master_, buffer, size_t(allowance));
            if (got <= 0)
                continue;
            allowance -= double(got);
            bytes_ += got;
            if (!armed_ || found())
                continue;
            tail = tail.right(marker_.size()) + QByteArray(buffer, got);
            if (tail.contains(marker_))
                foundAt_ = Clock::now().time_since_epoch().count();
        }
    }

    int master_;
    double rate_;
    QByteArray marker_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> armed_{false};
    std::atomic<Clock::rep> foundAt_{0};
    std::atomic<qint64> bytes_{0};
    std::thread thread_;
};

} // namespace bench
