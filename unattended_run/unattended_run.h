#pragma once

#include "unattended_run/run_record.h"
#include "unattended_run/unattended_options.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class PortBank;
class StatusCheck;

// Everything an unattended run adds around the port bank: the run record (always, so that the
// report has its verdict columns), the status checks, the sweep started after the first opening
// pass, and the end after --for. The window is reached only through the hooks.
class UnattendedRun : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<QString()> queryText; // the status query box
        std::function<void()> startTimed;   // as the sweep button's click
        std::function<void()> startFast;    // as the fast-sweep button's click
        std::function<void()> endProgram;   // as the exit button's click
    };

    UnattendedRun(PortBank& bank, const UnattendedOptions& options, Hooks hooks,
                  RunRecord::Clock clock, QObject* parent = nullptr);
    ~UnattendedRun() override;

    bool isUnattended() const { return options_.isUnattended(); }
    RunRecord& record() { return record_; }
    StatusCheck* statusCheck() { return check_.get(); }
    // Where missed and differing answers are told (a session log); none by default.
    void setNote(std::function<void(int index, const QString&)> note);

    // The program is ending: no more checks; the record is closed.
    void finish();

public slots:
    // The first pass has tried every port: the asked-for sweep starts, once.
    void openingPassRan();

private:
    void armEnd();

    PortBank& bank_;
    UnattendedOptions options_;
    Hooks hooks_;
    RunRecord record_;
    std::unique_ptr<StatusCheck> check_;
    QTimer endTimer_;
    std::int64_t endAtMs_ = 0;
    RunRecord::Clock clock_;
    bool started_ = false;
};
