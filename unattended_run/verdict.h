#pragma once

#include "session_log/run_report.h"

#include <QByteArray>
#include <QStringList>

class PortRunRecord;
class RunRecord;

// The verdict on one port: a bound port fails when during the run it never opened, was lost,
// missed an answer or answered differently; otherwise it passes. A port with no device bound is
// not judged.
struct PortVerdict {
    bool judged = false;
    bool passed = false;
    QStringList reasons; // "never opened", "lost 2", "missed 1", "differed 3"
};

PortVerdict verdictOf(const PortRunRecord& port);
bool anyPortFailed(const RunRecord& record);

// The report's verdict columns of one port, and of every port of rows.
VerdictColumns verdictColumns(const PortRunRecord& port);
void fillVerdictColumns(ReportRows& rows, const RunRecord& record);

// "port 7 /dev/pts/4 fail: missed 2, differed 1; first at 2026-12-07 21:40:05.123" or
// "port 3 /dev/pts/9 pass"; empty for a port that is not judged.
QByteArray verdictLine(int portNumber, const PortRunRecord& port);
// One line per judged port, then "summary: 15 of 16 bound ports passed, 1 failed: 7; 120 checks",
// ending in "; evidence incomplete" when session log lines or the last report were lost.
QByteArray verdictText(const RunRecord& record, bool evidenceComplete = true);
