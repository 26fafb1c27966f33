#include "run_page/page_timeline.h"

#include "run_page/markup_text.h"
#include "run_page/timeline_columns.h"
#include "session_log/local_timestamp.h"
#include "unattended_run/run_record.h"
#include "unattended_run/verdict.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLabelWidth = 330;
constexpr int kPlotWidth = 900;
constexpr int kTop = 30;   // room for the time labels
constexpr int kMarkY = 4;  // the marks' lane within a row
constexpr int kBandY = 22; // the band within a row
constexpr int kBandHeight = 16;

// Classes of the page's style sheet: up, down, never opened, failure mark, gap mark, line.
const char kStyle[] =
    "<style>rect{shape-rendering:crispEdges}.u{fill:#009e73}.d{fill:#f0e442}.n{fill:url(#never)}.f{"
    "fill:#d00000}"
    ".g{fill:#0072b2}.a{fill:none;stroke:#000;stroke-width:1}.l{font:13px sans-serif}"
    ".lf{font:bold 13px sans-serif;fill:#d00000}.t{font:11px sans-serif;fill:#444}</style>"
    "<defs><pattern id=\"never\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
    "<rect width=\"6\" height=\"6\" fill=\"#bbb\"/><path d=\"M0 6L6 0\" stroke=\"#666\"/>"
    "</pattern></defs>";

QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 1);
}

struct Scale {
    std::int64_t startMs, endMs;
    double x(std::int64_t ms) const
    {
        return kLabelWidth + double(ms - startMs) * kPlotWidth / double(endMs - startMs);
    }
};

// A row's label as far as it fits beside the timeline; the hover text has it whole.
QString shortened(const QString& label)
{
    constexpr qsizetype kFits = 46;
    if (label.size() <= kFits)
        return label;
    const qsizetype keep = label[kFits - 2].isHighSurrogate() ? kFits - 2 : kFits - 1;
    return label.left(keep) + QChar(0x2026);
}

void appendRect(QByteArray& out, const char* cls, double x, double y, double width, double height)
{
    if (width <= 0)
        return;
    out += "<rect class=\"" + QByteArray(cls) + "\" x=\"" + number(x) + "\" y=\"" + number(y) +
           "\" width=\"" + number(width) + "\" height=\"" + number(height) + "\"/>";
}

// A mark's hover text: how many, and the first one's time and texts.
QByteArray hoverText(int portNumber, const TimelineMark& mark, const char* what,
                     const QString& first, const QString& other)
{
    QString text = QStringLiteral("port %1: %2 %3; the first at %4")
                       .arg(portNumber)
                       .arg(mark.count)
                       .arg(QLatin1String(what))
                       .arg(QString::fromLatin1(LocalTimestamp().text(mark.firstMs)));
    if (!first.isEmpty())
        text += QStringLiteral(", ") + first;
    if (!other.isEmpty())
        text += QStringLiteral(", ") + other;
    return "<title>" + markup(text) + "</title>";
}

// A mark shape at (x, y) in the marks' lane: a triangle, a diamond or a square.
void appendMark(QByteArray& out, const char* cls, const char* shape, double x, double y,
                const QByteArray& title)
{
    out += "<path class=\"" + QByteArray(cls) + "\" d=\"M" + number(x) + ' ' + number(y) + shape +
           "\">" + title + "</path>";
}

void appendMarks(QByteArray& out, int portNumber, const TimelineColumn& column, double x0,
                 double x1, double y)
{
    const double step = (x1 - x0) / 3;
    const TimelineBucket& e = column.events;
    if (e.missed.count > 0) // a triangle pointing down: nothing came
        appendMark(out, "f", "h10l-5 10z", x0 + step / 2 - 5, y,
                   hoverText(portNumber, e.missed, "missed answers",
                             QStringLiteral("query \"%1\"").arg(e.missed.first),
                             e.missed.other.isEmpty()
                                 ? QString()
                                 : QStringLiteral("most answered \"%1\"").arg(e.missed.other)));
    if (e.differed.count > 0) // a diamond: something else came
        appendMark(out, "f", "l5 5-5 5-5-5z", x0 + step * 1.5, y,
                   hoverText(portNumber, e.differed, "differing answers",
                             QStringLiteral("answered \"%1\"").arg(e.differed.first),
                             e.differed.other.isEmpty()
                                 ? QString()
                                 : QStringLiteral("expected \"%1\"").arg(e.differed.other)));
    if (e.logGaps.count > 0) // a square: the log has a hole
        appendMark(out, "g", "h9v9h-9z", x0 + step * 2.5 - 4.5, y + 0.5,
                   hoverText(portNumber, e.logGaps, "log gaps", e.logGaps.first, QString()));
}

// The band's three kinds of time, in that order, and the answer time line over it.
void appendBand(QByteArray& out, const std::vector<TimelineColumn>& columns, const Scale& scale,
                double y, double answerScaleMs)
{
    QByteArray line;
    for (const TimelineColumn& column : columns) {
        const double x0 = scale.x(column.startMs), x1 = scale.x(column.endMs);
        // Whole pixels from the times themselves, so that neighbouring pieces meet exactly.
        std::int64_t from = column.startMs;
        for (const auto& [cls, ms] : {std::pair{"n", column.neverOpenedMs},
                                      {"u", column.events.upMs},
                                      {"d", column.downMs}}) {
            const double left = std::round(scale.x(from));
            from = std::min(column.endMs, from + ms);
            appendRect(out, cls, left, y, std::round(scale.x(from)) - left, kBandHeight);
        }
        if (column.events.answers > 0 && answerScaleMs > 0) {
            const double average = column.events.answerMsSum / column.events.answers;
            const double lineY = y + kBandHeight - 1 - (kBandHeight - 2) * average / answerScaleMs;
            line += (line.isEmpty() ? "" : " ") + number((x0 + x1) / 2) + ',' + number(lineY);
        }
    }
    if (line.contains(' '))
        out += "<polyline class=\"a\" points=\"" + line + "\"/>";
}

} // namespace

namespace PageTimeline {

QByteArray svg(const RunRecord& record, std::int64_t nowMs)
{
    const Scale scale{record.axis().startMs(), runEndOnPage(record, nowMs)};
    std::vector<std::vector<TimelineColumn>> rows(RunRecord::kPorts);
    double answerScaleMs = 0;
    int bound = 0;
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        if (!record.port(i).isBound())
            continue;
        ++bound;
        rows[std::size_t(i)] = timelineColumns(record, i, nowMs);
        for (const TimelineColumn& column : rows[std::size_t(i)])
            if (column.events.answers > 0)
                answerScaleMs =
                    std::max(answerScaleMs, column.events.answerMsSum / column.events.answers);
    }
    const int height = kTop + bound * kRowHeight;
    QByteArray out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                     QByteArray::number(kLabelWidth + kPlotWidth + 10) + "\" height=\"" +
                     QByteArray::number(height) + "\">" + kStyle;
    LocalTimestamp timestamp;
    for (int tick = 0; tick <= 4; ++tick) {
        const std::int64_t ms = scale.startMs + (scale.endMs - scale.startMs) * tick / 4;
        const char* anchor = tick == 0 ? "start" : tick == 4 ? "end" : "middle";
        out += "<text class=\"t\" x=\"" + number(scale.x(ms)) + "\" y=\"14\" text-anchor=\"" +
               anchor + "\">" + timestamp.text(ms).left(19) + "</text>";
    }
    int row = 0;
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        const PortRunRecord& port = record.port(i);
        if (!port.isBound())
            continue;
        const double y = kTop + row++ * kRowHeight;
        const PortVerdict verdict = verdictOf(port);
        // The port and its verdict first, the device below it.
        const QString verdictText =
            QStringLiteral("%1 ").arg(i + 1) +
            (verdict.passed
                 ? QStringLiteral("pass")
                 : QStringLiteral("fail: ") + verdict.reasons.join(QStringLiteral(", ")));
        out += "<g id=\"port-" + QByteArray::number(i + 1) + "\">";
        out += "<text class=\"" + QByteArray(verdict.passed ? "l" : "lf") + "\" x=\"4\" y=\"" +
               number(y + 17) + "\">" + markup(shortened(verdictText)) + "<title>" +
               markup(verdictText) + "</title></text>";
        out += "<text class=\"t\" x=\"4\" y=\"" + number(y + kBandY + 13) + "\">" +
               markup(shortened(port.device())) + "<title>" + markup(port.device()) +
               "</title></text>";
        for (const TimelineColumn& column : rows[std::size_t(i)])
            appendMarks(out, i + 1, column, scale.x(column.startMs), scale.x(column.endMs),
                        y + kMarkY);
        appendBand(out, rows[std::size_t(i)], scale, y + kBandY, answerScaleMs);
        out += "</g>";
    }
    out += "</svg>";
    return out;
}

} // namespace PageTimeline
