#pragma once

#include "port_bank/port_counters.h"

#include <QByteArray>
#include <QString>
#include <array>

// The run report: one CSV row per port, 1 to 16, under the header
// port,device,status,commands_sent,bytes_sent,bytes_received,bytes_dropped,losses,returns,
// last_received,log_lines_lost,written_at
// status is what the port's status label shows: open, in_use, absent or failed (empty before
// the opening pass has tried the port); last_received is the local time of the last byte, empty
// if none came; log_lines_lost the port's session-log lines lost so far; written_at the local
// time the report was made, with its UTC offset, the same on every row, so that a report left
// over from earlier shows its age. Fields holding a comma, a quote or a line end are quoted,
// quotes doubled.
// followed by the verdict's columns:
// checks,missed,differed,answer_ms_p50,answer_ms_p99,answer_ms_max,verdict. All empty for a port
// with no device bound; the answer times empty until an answer came.
struct VerdictColumns {
    bool judged = false;
    std::uint64_t checks = 0;
    std::uint64_t missed = 0;
    std::uint64_t differed = 0;
    std::int64_t answerMicrosP50 = -1; // -1: no answer yet
    std::int64_t answerMicrosP99 = -1;
    std::int64_t answerMicrosMax = -1;
    bool passed = false;
};

struct ReportRow {
    QString device;
    QString status;
    PortCounters counters;
    std::uint64_t logLinesLost = 0;
    VerdictColumns verdict{};
};

using ReportRows = std::array<ReportRow, 16>;

// writtenAtMs: wall-clock ms since the epoch.
QByteArray runReportCsv(const ReportRows& rows, std::int64_t writtenAtMs);

// The verdict's part of the header and of one row, each beginning with its comma: they come
// after every other column.
extern const char kVerdictHeader[];
void appendVerdictColumns(QByteArray& out, const VerdictColumns& verdict);
