#pragma once

#include "simulator/simulated_controller.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QSocketNotifier;

// The simulator's clock in milliseconds (monotonic); controllers and lamps share it.
std::int64_t simulatorNowMs();

// One simulated controller on its own pseudo-terminal. Whoever opens devicePath() (or the link)
// talks to the controller: what it writes is parsed as it arrives, and the answers go back,
// late by the reply delay if one is set. The controller can vanish (the device goes away, as an
// unplugged adapter does) and come back on a new device under the same link; its channels and
// counts survive that, as the controller behind the cable would.
class SimulatedPort : public QObject {
    Q_OBJECT
public:
    // linkPath empty: no link.
    SimulatedPort(int number, const SimulatedController::Options& options, const QString& linkPath,
                  int replyDelayMs, QObject* parent = nullptr);
    ~SimulatedPort() override;

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
    // Answers that found the line full and were thrown away.
    std::int64_t lostReplyBytes() const { return lostReplyBytes_; }

private:
    void readLine();
    void send(const QByteArray& bytes);
    void closeDevice();
    bool fail(const char* what);

    int number_;
    SimulatedController controller_;
    QString linkPath_;
    int replyDelayMs_;
    int master_ = -1;
    int slave_ = -1; // kept open, so the master never reads as hung up between users
    QString devicePath_;
    QString error_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::int64_t lostReplyBytes_ = 0;
};
