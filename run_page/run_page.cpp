#include "run_page/run_page.h"

#include "run_page/markup_text.h"
#include "run_page/page_tables.h"
#include "run_page/page_timeline.h"
#include "session_log/local_timestamp.h"
#include "unattended_run/run_record.h"
#include "unattended_run/verdict.h"

namespace {

const char kHead[] =
    "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\" "
    "xml:lang=\"en\"><head>"
    "<meta charset=\"UTF-8\"/>"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "style-src 'unsafe-inline'\"/>"
    "<meta name=\"viewport\" content=\"width=device-width\"/>"
    "<style>body{font:14px sans-serif;margin:12px;color:#111;background:#fff}"
    "h1{font-size:20px;margin:0 0 8px}dl{display:grid;grid-template-columns:max-content auto;"
    "gap:2px 12px;margin:0 0 12px}dt{font-weight:bold}dd{margin:0;word-break:break-all}"
    ".fail{color:#d00000;font-weight:bold}.tables{display:flex;flex-wrap:wrap;gap:12px}"
    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:1px 6px;"
    "text-align:left;font-size:12px}caption{font-weight:bold;text-align:left}"
    ".legend span{margin-right:14px;white-space:nowrap}"
    ".sw{display:inline-block;width:12px;height:12px;vertical-align:middle}</style>";

QString quotedCommandLine(const QStringList& arguments)
{
    QStringList quoted;
    for (const QString& argument : arguments) {
        const bool plain = !argument.isEmpty() && !argument.contains(QLatin1Char(' ')) &&
                           !argument.contains(QLatin1Char('\'')) &&
                           !argument.contains(QLatin1Char('"'));
        quoted.append(
            plain ? argument
                  : QLatin1Char('\'') +
                        QString(argument).replace(QLatin1String("'"), QLatin1String("'\\''")) +
                        QLatin1Char('\''));
    }
    // The page's size is bounded: a command line of a megabyte is shown in part.
    constexpr qsizetype kShown = 4096;
    const QString text = QStringLiteral("lightbench ") + quoted.join(QLatin1Char(' '));
    if (text.size() <= kShown)
        return text;
    return text.left(text[kShown - 1].isHighSurrogate() ? kShown - 1 : kShown) + QChar(0x2026);
}

void appendFact(QByteArray& out, const char* name, const QByteArray& value)
{
    out += "<dt>" + QByteArray(name) + "</dt><dd>" + value + "</dd>";
}

QByteArray headline(const RunRecord& record, const RunPageFacts& facts)
{
    LocalTimestamp timestamp;
    int passed = 0, failed = 0;
    QByteArray failedPorts;
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        const PortVerdict verdict = verdictOf(record.port(i));
        if (!verdict.judged)
            continue;
        if (verdict.passed) {
            ++passed;
            continue;
        }
        ++failed;
        failedPorts += (failedPorts.isEmpty() ? "" : ", ") + QByteArray::number(i + 1);
    }
    const bool ended = record.endMs() >= 0;
    const std::int64_t endMs = ended ? record.endMs() : facts.writtenMs;
    QByteArray title =
        ended ? QByteArray("ended") : "running, written at " + timestamp.text(facts.writtenMs);
    QByteArray out = "<title>Lightbench run: " + title + "</title></head><body><h1>" +
                     "Lightbench run: " + title + "</h1><dl>";
    QByteArray counts = QByteArray::number(passed) + " passed, ";
    counts += failed ? "<span class=\"fail\">" + QByteArray::number(failed) + " failed: port " +
                           failedPorts + "</span>"
                     : QByteArray("0 failed");
    appendFact(out, "Ports", counts);
    appendFact(out, "Started", timestamp.text(record.axis().startMs()));
    appendFact(out, ended ? "Ended" : "Written", timestamp.text(endMs));
    appendFact(out, "Duration", markup(durationText(endMs - record.axis().startMs())));
    appendFact(out, "Checks", QByteArray::number(qulonglong(record.checksRun())));
    appendFact(out, "Command line", markup(quotedCommandLine(record.commandLine())));
    appendFact(out, "Build", markup(facts.buildTag));
    appendFact(out, "Evidence",
               !facts.evidenceComplete ? QByteArray("known when the run has ended")
               : *facts.evidenceComplete
                   ? QByteArray("complete")
                   : QByteArray("<span class=\"fail\">incomplete</span> (see the table's "
                                "figures of lost lines and the program's messages)"));
    return out + "</dl>";
}

// Every kind of time and mark, by colour and by shape or pattern, with its name.
const char kLegend[] =
    "<p class=\"legend\"><span><i class=\"sw\" style=\"background:#009e73\"></i> up (open)"
    "</span><span><i class=\"sw\" style=\"background:#f0e442\"></i> down (lost until "
    "returned)</span><span><i class=\"sw\" style=\"background:repeating-linear-gradient(45deg,"
    "#bbb 0 3px,#666 3px 4px)\"></i> never opened</span><span class=\"fail\">&#9660; missed "
    "answers</span><span class=\"fail\">&#9670; differing answers</span><span><i class=\"sw\" "
    "style=\"background:#0072b2\"></i> log gap</span><span>&#8212; answer time (column "
    "average; a row's top is the longest)</span></p><p>A failed port's number and verdict are "
    "red. Hover a mark for its count and the first one's time and texts.</p>";

} // namespace

QString durationText(std::int64_t ms)
{
    const std::int64_t seconds = std::max<std::int64_t>(0, ms) / 1000;
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1 h %2 min %3 s")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    if (m > 0)
        return QStringLiteral("%1 min %2 s").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 s").arg(s);
}

QByteArray runPageHtml(const RunRecord& record, const RunPageFacts& facts)
{
    QByteArray out = kHead;
    out += headline(record, facts);
    out += "<h2>Timeline</h2>";
    out += PageTimeline::svg(record, facts.writtenMs);
    out += kLegend;
    out += "<h2>Figures per port</h2>";
    out += PageTables::html(record, facts.reportCsv);
    out += "</body></html>\n";
    return out;
}
