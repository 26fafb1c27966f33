#pragma once

#include "pty_device.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <pthread.h>
#include <random>
#include <thread>
#include <vector>

class PortWatch;
class StreamChecker;

// The sixteen controllers, played in a thread of their own over poll() so that they never take
// the window's thread. Each one reads everything the window sends as fast as it arrives (a
// controller that drains slower than the window writes would have commands refused by the
// port's output limit, which is that limit working, not a loss), answers every command with a
// short reply and, on top, floods replies at the line rate of 115200 baud. Healthy ports pass
// what they read to the stream checker; faulty ports are taken away and given back now and
// then, one at a time: either the controller closes its end of the line, or the device path
// goes away with it.
class PeerBench {
public:
    static constexpr int kPorts = 16;
    static constexpr int kFloodBytesPerSecond = 11520; // 115200 baud, 8N1

    struct PortStats {
        qint64 bytesIn = 0;     // sent by the window
        qint64 bytesBefore = 0; // arrived before the load started (not the window's)
        qint64 bytesOut = 0;    // replies and flood taken by the line
        qint64 answers = 0;     // commands answered
        qint64 dropped = 0;     // replies dropped because the window was not reading
    };

    PeerBench(const QString& folder, int firstFaulty, std::uint32_t seed);
    ~PeerBench();

    // On the window's thread, before start(): every pty and its link.
    bool createDevices();
    QString linkPath(int index) const;
    // Where healthy ports' bytes go, and who hears of losses and returns; before start().
    void attach(StreamChecker& checker, PortWatch& watch);

    void start();
    // From now on healthy ports' bytes go to the checker. Whatever came before is not the
    // window's (it sends nothing before the load), but another program's that opened a freed
    // pty number through a link of its own.
    void startChecking() { checking_ = true; }
    void startFaults() { faultsWanted_ = true; }
    // No new loss from now on, and a port that is away returns at once.
    void endFaults() { faultsWanted_ = false; }
    // Reads what is still on the lines, then ends the thread.
    void stop();

    std::uint64_t heartbeat() const { return heartbeat_.load(std::memory_order_relaxed); }
    // CPU time of the peer thread so far.
    qint64 cpuNs() const;

    // After stop().
    const PortStats& stats(int index) const { return peers_[std::size_t(index)].stats; }
    int losses() const { return losses_; }
    int lossesClosed() const { return lossesClosed_; }
    int lossesRemoved() const { return lossesRemoved_; }
    int returns() const { return returns_; }

private:
    struct Peer {
        std::unique_ptr<PtyDevice> device;
        bool healthy = false;
        bool away = false;
        qint64 hungUpUntilNs = 0; // nobody has the line open: polled again only after this
        QByteArray out;
        qsizetype outSent = 0;
        QByteArray floodPattern;
        qsizetype floodAt = 0;
        bool commandHasBody = false;
        bool commandAnswered = false;
        PortStats stats;
    };

    void run();
    void readFrom(int index, qint64 now);
    void answer(Peer& peer, const char* bytes, qsizetype size);
    void queue(Peer& peer, const char* bytes, qsizetype size);
    void flush(Peer& peer);
    void flood(qint64 now);
    void runFaults(qint64 now);
    void takeAway(qint64 now);
    void giveBack(qint64 now);
    qint64 randomMs(int low, int high);

    QString folder_;
    int firstFaulty_;
    StreamChecker* checker_ = nullptr;
    PortWatch* watch_ = nullptr;
    std::vector<Peer> peers_;
    std::mt19937 random_;
    std::thread thread_;
    pthread_t threadHandle_{};
    std::atomic<bool> stopWanted_{false};
    std::atomic<bool> faultsWanted_{false};
    std::atomic<bool> checking_{false};
    std::atomic<std::uint64_t> heartbeat_{0};
    std::atomic<bool> running_{false};
    std::atomic<qint64> finalCpuNs_{0};

    // Peer thread only.
    qint64 floodStartNs_ = 0;
    qint64 floodDoneBytes_ = 0;
    int awayIndex_ = -1;
    qint64 nextFaultNs_ = -1;
    int losses_ = 0;
    int lossesClosed_ = 0;
    int lossesRemoved_ = 0;
    int returns_ = 0;
    QByteArray readBuffer_;
};
