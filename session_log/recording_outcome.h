#pragma once

#include <QString>
#include <array>
#include <cstdint>

// Whether the session log and the run report of a run hold everything: what the recording's
// finish hands to main(), which ends with kIncompleteStatus when they do not (a run that also
// failed otherwise keeps its own status and still prints the summary).
struct RecordingOutcome {
    static constexpr int kIncompleteStatus = 3;

    std::array<std::uint64_t, 16> logLinesLost{}; // per port index
    std::array<QString, 16> lossReasons{};        // why, per port; empty when its log is whole
    QString reportFailure; // why the last report could not be written; empty when it was

    bool complete() const;
    // For stderr: one line saying the evidence is incomplete, then one per port and the report.
    QString summary() const;
};
