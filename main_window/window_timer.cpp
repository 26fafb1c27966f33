#include "main_window/window_timer.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#else
#include <QTimer>
#endif

WindowTimer::WindowTimer(int intervalMs, bool enabled, QObject* parent) : QObject(parent)
{
    interval_ = std::clamp(intervalMs, 0, kMaxInterval);
    enabled_ = enabled;
#ifdef Q_OS_LINUX
    // A kernel timer on CLOCK_MONOTONIC keeps the grid itself, to the microsecond, and counts
    // missed expirations instead of queueing them.
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        qWarning("timerfd_create: %s", std::strerror(errno));
    } else {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &WindowTimer::deliverTick);
    }
#else
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &WindowTimer::deliverTick);
#endif
    rearm();
}

WindowTimer::~WindowTimer()
{
#ifdef Q_OS_LINUX
    if (fd_ >= 0 && ::close(fd_) != 0)
        qWarning("close(timerfd): %s", std::strerror(errno));
#endif
}

void WindowTimer::setInterval(int intervalMs)
{
    interval_ = std::clamp(intervalMs, 0, kMaxInterval);
    rearm();
}

void WindowTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    rearm();
}

void WindowTimer::rearm()
{
    const bool ticking = enabled_ && interval_ > 0;
#ifdef Q_OS_LINUX
    if (fd_ < 0)
        return;
    itimerspec schedule{};
    if (ticking) {
        schedule.it_interval.tv_sec = interval_ / 1000;
        schedule.it_interval.tv_nsec = static_cast<long>(interval_ % 1000) * 1000000L;
        schedule.it_value = schedule.it_interval; // the first tick one interval from now
    }
    if (timerfd_settime(fd_, 0, &schedule, nullptr) != 0)
        qWarning("timerfd_settime: %s", std::strerror(errno));
    // Drop an expiry of the old setting that is already waiting to be read.
    std::uint64_t expirations = 0;
    while (::read(fd_, &expirations, sizeof expirations) > 0) {
    }
#else
    if (ticking)
        timer_->start(interval_);
    else
        timer_->stop();
#endif
}

void WindowTimer::deliverTick()
{
#ifdef Q_OS_LINUX
    std::uint64_t expirations = 0;
    const ssize_t got = ::read(fd_, &expirations, sizeof expirations);
    if (got != static_cast<ssize_t>(sizeof expirations))
        return; // nothing expired: the timer was re-armed since the notifier fired
#endif
    if (!enabled_ || interval_ == 0 || nesting_ >= kMaxNesting)
        return;
    ++nesting_;
    emit timeout();
    --nesting_;
}
