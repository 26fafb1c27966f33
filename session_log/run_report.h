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
struct ReportRow {
    QString device;
    QString status;
    PortCounters counters;
    std::uint64_t logLinesLost = 0;
};

using ReportRows = std::array<ReportRow, 16>;

// writtenAtMs: wall-clock ms since the epoch.
QByteArray runReportCsv(const ReportRows& rows, std::int64_t writtenAtMs);
