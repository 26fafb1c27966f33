#pragma once

#include "port_bank/port_counters.h"

#include <QByteArray>
#include <QString>
#include <array>

// The run report: one CSV row per port, 1 to 16, under the header
// port,device,status,commands_sent,bytes_sent,bytes_received,bytes_dropped,losses,returns,last_received
// followed by the verdict's columns (run_report.h, kVerdictHeader).
// status is what the port's status label shows: open, in_use, absent or failed (empty before
// the opening pass has tried the port); last_received is the local time of the last byte, empty
// if none came. Fields holding a comma, a quote or a line end are quoted, quotes doubled.
// The verdict's columns: checks,missed,differed,answer_ms_p50,answer_ms_p99,answer_ms_max,verdict.
// All empty for a port with no device bound; the answer times empty until an answer came.
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
    VerdictColumns verdict{};
};

using ReportRows = std::array<ReportRow, 16>;

QByteArray runReportCsv(const ReportRows& rows);

// The verdict's part of the header and of one row, each beginning with its comma: they come
// after every other column.
extern const char kVerdictHeader[];
void appendVerdictColumns(QByteArray& out, const VerdictColumns& verdict);
