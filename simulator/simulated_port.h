#pragma once

#include "simulator/simulated_controller.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>

class DeviceOpens;
class QSocketNotifier;

// The simulator's clock in milliseconds (monotonic); controllers and lamps share it.
std::int64_t simulatorNowMs();

// One simulated controller on its own pseudo-terminal. Whoever opens devicePath() (or the link)
// talks to the controller: what it writes is parsed as it arrives, and the answers go back,
// late by the reply delay if one is set. As on a real line, nothing waits for the next client:
// what the last one left unread is discarded when it closes the line, and answers sent while
// nobody has it open are lost. The controller can vanish (the device goes away, as an
// unplugged adapter does) and come back on a new device under the same link; its channels and
// counts survive that, as the controller behind the cable would.
class SimulatedPort : public QObject {
    Q_OBJECT
public:
    // linkPath empty: no link.
    SimulatedPort(int number, const SimulatedController::Options& options, const QString& linkPath,
                  int replyDelayMs, QObject* parent = nullptr);
    ~SimulatedPort() override;

    // At most this many bytes of answers wait out the reply delay; later ones are lost, as on
    // a line whose buffer is full.
    static constexpr qsizetype kMaxDelayedBytes = 65536;

    // Makes the pty (and the link); false with error() telling why.
    bool open();
    void vanish();
    bool isPresent() const { return master_ >= 0; }

    int number() const { return number_; }
    QString devicePath() const { return devicePath_; }
    // What to give lightbench: the link when there is one, else the device.
    QString bindingPath() const { return linkPath_.isEmpty() ? devicePath_ : linkPath_; }
    QString error() const { return error_; }
    const SimulatedController& controller() const { return controller_; }
    // A client has the line open, as far as this port has noticed.
    bool hasClient() const { return client_; }
    // Answers that were lost: the line full, nobody on it, or too many waiting out the delay.
    std::int64_t lostReplyBytes() const { return lostReplyBytes_; }
    qsizetype delayedBytes() const { return delayedBytes_; }

private:
    struct Delayed {
        std::int64_t dueMs;
        QByteArray bytes;
    };

    void readLine();
    void lineClosed();
    void watchForClient();
    void answer(const QByteArray& bytes);
    void sendDue();
    void send(const QByteArray& bytes);
    bool clientOnLine() const;
    void closeDevice();
    bool fail(const char* what);

    int number_;
    SimulatedController controller_;
    QString linkPath_;
    int replyDelayMs_;
    int master_ = -1;
    std::shared_ptr<DeviceOpens> opens_;
    int openWatch_ = 0; // the device's opens wake us while no client has the line
    bool client_ = false;
    QString devicePath_;
    QString error_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::deque<Delayed> delayed_;
    qsizetype delayedBytes_ = 0;
    QTimer delayTimer_;
    std::int64_t lostReplyBytes_ = 0;
};
