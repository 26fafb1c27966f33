#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// A periodic timer as the window's handlers expect it: an interval in milliseconds and an on/off
// switch that are independent of each other. It ticks only while on with a non-zero interval; a
// new interval starts counting afresh. Ticks fall on a fixed grid, so a late tick does not delay
// the ones after it, and ticks missed during a busy spell are dropped rather than fired in a burst.
class WindowTimer : public QObject {
    Q_OBJECT
public:
    // The interval range the window's timers accept; other values are clamped into it.
    static constexpr int kMaxInterval = 65535;
    // A tick that arrives while this many of the timer's own handlers are still running (each
    // inside another's yield) is dropped, so that a short interval cannot nest without end.
    static constexpr int kMaxNesting = 4;

    WindowTimer(int intervalMs, bool enabled, QObject* parent = nullptr);
    ~WindowTimer() override;

    int interval() const { return interval_; }
    void setInterval(int intervalMs);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

signals:
    void timeout();

private:
    void rearm();
    void deliverTick();

    int interval_ = 0;
    bool enabled_ = false;
    int nesting_ = 0;
#ifdef Q_OS_LINUX
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
#else
    QTimer* timer_ = nullptr;
#endif
};
