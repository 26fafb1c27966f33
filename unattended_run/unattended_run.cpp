#include "unattended_run/unattended_run.h"

#include "port_bank/port_bank.h"
#include "unattended_run/status_check.h"

#include <QRegularExpression>
#include <algorithm>

UnattendedRun::UnattendedRun(PortBank& bank, const UnattendedOptions& options, Hooks hooks,
                             RunRecord::Clock clock, QObject* parent)
    : QObject(parent), bank_(bank), options_(options), hooks_(std::move(hooks)),
      record_(clock(), clock), clock_(clock)
{
    for (int i = 0; i < RunRecord::kPorts; ++i)
        record_.bind(i, bank_.devicePath(i));
    bank_.addObserver(&record_);
    if (options_.checkMs > 0) {
        StatusCheck::Settings settings;
        settings.intervalMs = int(options_.checkMs);
        settings.timeoutMs = options_.checkTimeoutMs;
        if (!options_.expect.isEmpty())
            settings.expect = QRegularExpression(options_.expect);
        check_ = std::make_unique<StatusCheck>(bank_, record_, settings, hooks_.queryText);
    }
    if (options_.forMs > 0) {
        endAtMs_ = clock_() + options_.forMs;
        endTimer_.setSingleShot(true);
        connect(&endTimer_, &QTimer::timeout, this, &UnattendedRun::armEnd);
        armEnd();
    }
}

UnattendedRun::~UnattendedRun()
{
    finish();
    bank_.removeObserver(&record_);
}

void UnattendedRun::setNote(std::function<void(int, const QString&)> note)
{
    if (check_)
        check_->setNote(std::move(note));
}

// A timer's interval is an int of milliseconds: a long run is reached in steps of a day at most,
// each measured afresh on the wall clock.
void UnattendedRun::armEnd()
{
    const std::int64_t left = endAtMs_ - clock_();
    if (left <= 0) {
        if (hooks_.endProgram)
            hooks_.endProgram();
        return;
    }
    endTimer_.start(int(std::min<std::int64_t>(left, 24 * 3600 * 1000)));
}

void UnattendedRun::openingPassRan()
{
    if (started_)
        return;
    started_ = true;
    if (check_)
        check_->start();
    // From the event loop, not from inside the pass: the fast sweep's click runs until it is
    // switched off.
    if (options_.start == UnattendedOptions::Start::Timed && hooks_.startTimed)
        QTimer::singleShot(0, this, hooks_.startTimed);
    else if (options_.start == UnattendedOptions::Start::Fast && hooks_.startFast)
        QTimer::singleShot(0, this, hooks_.startFast);
}

void UnattendedRun::finish()
{
    endTimer_.stop();
    if (check_)
        check_->stop();
    record_.end();
}
