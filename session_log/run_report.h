#pragma once

#include "port_bank/port_counters.h"

#include <QByteArray>
#include <QString>
#include <array>

// The run report: one CSV row per port, 1 to 16, under the header
// port,device,status,commands_sent,bytes_sent,bytes_received,bytes_dropped,losses,returns,last_received
// status is what the port's status label shows: open, in_use, absent or failed (empty before
// the opening pass has tried the port); last_received is the local time of the last byte, empty
// if none came. Fields holding a comma, a quote or a line end are quoted, quotes doubled.
struct ReportRow {
    QString device;
    QString status;
    PortCounters counters;
};

using ReportRows = std::array<ReportRow, 16>;

QByteArray runReportCsv(const ReportRows& rows);
