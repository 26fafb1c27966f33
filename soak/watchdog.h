#pragma once

#include <QtGlobal>
#include <atomic>
#include <functional>
#include <thread>

class QObject;

// Ends the soak with a message and SIGABRT when the window's thread has not handled a posted
// event for limitMs (a hang, or a handler that never returns), or when the peer thread has not
// gone round its loop for as long. A hang must not pass as a slow run.
class Watchdog {
public:
    Watchdog(QObject* windowThreadObject, std::function<std::uint64_t()> peerHeartbeat,
             int limitMs);
    ~Watchdog();

    void start();
    void stop();
    // What the soak is doing, for the message; a string literal.
    void setPhase(const char* phase) { phase_ = phase; }
    // The longest time a posted event waited so far.
    qint64 longestWaitMs() const { return longestWaitNs_ / 1000000; }

private:
    void run();

    QObject* target_;
    std::function<std::uint64_t()> peerHeartbeat_;
    qint64 limitNs_;
    std::thread thread_;
    std::atomic<bool> stopWanted_{false};
    std::atomic<const char*> phase_{"start"};
    std::atomic<qint64> postedNs_{-1}; // -1: nothing waiting
    std::atomic<qint64> longestWaitNs_{0};
};
