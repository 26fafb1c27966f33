#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

class RunRecord;

// What the page shows beside the record.
struct RunPageFacts {
    QString buildTag;                     // "Lightbench 1.4.0"
    std::int64_t writtenMs = 0;           // now, wall clock
    std::optional<bool> evidenceComplete; // known at the end only
    QByteArray reportCsv;                 // the run report's rows as they stand now
};

// The run at a glance, as one self-contained page: polyglot XHTML (well-formed XML, read the
// same as HTML) with inline CSS and SVG, no script, and a Content-Security-Policy that lets
// nothing else in. A headline (counts, times, the command line, build, evidence), the timeline
// of every bound port, and a table per bound port with the report's columns. Until the record
// has ended the headline says "running, written at ...". Bring the record up to date first.
QByteArray runPageHtml(const RunRecord& record, const RunPageFacts& facts);

// "2 h 05 min 09 s", "9 s".
QString durationText(std::int64_t ms);
