#pragma once

#include "session_log/recording_outcome.h"
#include "session_log/run_report.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class PortBank;
class SessionRecorder;
class SessionWriter;

// Everything --log and --report set up around the port bank: the writer's thread, the
// recorder that watches the bank, and the report's rows read from the bank's figures. Made
// after the window (so before the first opening pass), finished after the event loop ends,
// whichever way it ended: exit button, close box or signal.
class SessionRecording {
public:
    struct Options {
        QString logDirectory; // empty: no session log
        std::int64_t logLimit = 100 * 1024 * 1024;
        QString reportFile; // empty: no run report
        // Fills each row's verdict columns as they stand now; none: they stay empty.
        std::function<void(ReportRows&)> verdicts{};
        // Told of each run of lost log lines, on the log writer's thread (SessionWriter).
        std::function<void(int, std::int64_t, std::int64_t, std::uint64_t)> logGap{};
        qsizetype queueLimit = 8 * 1024 * 1024; // SessionWriter's
    };

    // startMs: the run's start on the wall clock; it names the log files (with a letter added
    // when another run of the same second uses the directory).
    SessionRecording(PortBank& bank, const Options& options, std::int64_t startMs);
    ~SessionRecording();

    // The report as it stands, written at once (the program is asked to end: a second signal
    // may kill it before the last one). Empty, or what failed.
    QString writeReportNow();

    // The logs written and synced, the bank no longer watched, then the last report. Says
    // whether everything reached the disk; the same answer on every call.
    RecordingOutcome finish();

    QString runName() const { return runName_; }

    // An event line, already in visible form, for port index's log (nothing without --log).
    void note(int index, const QString& visibleText);

private:
    PortBank& bank_;
    QString runName_;
    QString claimFile_;
    std::unique_ptr<SessionWriter> writer_;
    std::unique_ptr<SessionRecorder> recorder_;
};

// The report's status of a port: what its label shows after the last opening pass that tried
// it: "open", "in_use", "absent", "failed", or "" before any pass has.
QString reportStatus(std::uint32_t labelColour);

// The report's rows as the bank stands now, without the verdict's columns.
ReportRows reportRows(PortBank& bank);
