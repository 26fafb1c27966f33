#include "session_log/run_report.h"

#include "session_log/local_timestamp.h"

namespace {

void appendField(QByteArray& out, const QString& field)
{
    const QByteArray text = field.toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') &&
        !text.contains('\r')) {
        out.append(text);
        return;
    }
    out.append('"');
    for (char c : text) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

// Milliseconds with one decimal: answer times on a bench are a few ms, or below one.
void appendMs(QByteArray& out, std::int64_t micros)
{
    if (micros >= 0)
        out.append(QByteArray::number(double(micros) / 1000.0, 'f', 1));
}

} // namespace

const char kVerdictHeader[] =
    ",checks,missed,differed,answer_ms_p50,answer_ms_p99,answer_ms_max,verdict";

void appendVerdictColumns(QByteArray& out, const VerdictColumns& verdict)
{
    if (!verdict.judged) {
        out.append(",,,,,,,");
        return;
    }
    for (std::uint64_t n : {verdict.checks, verdict.missed, verdict.differed}) {
        out.append(',');
        out.append(QByteArray::number(qulonglong(n)));
    }
    for (std::int64_t micros :
         {verdict.answerMicrosP50, verdict.answerMicrosP99, verdict.answerMicrosMax}) {
        out.append(',');
        appendMs(out, micros);
    }
    out.append(verdict.passed ? ",pass" : ",fail");
}

QByteArray runReportCsv(const ReportRows& rows, std::int64_t writtenAtMs)
{
    QByteArray out = "port,device,status,commands_sent,bytes_sent,bytes_received,bytes_dropped,"
                     "losses,returns,last_received,log_lines_lost,written_at";
    out.append(kVerdictHeader);
    out.append('\n');
    LocalTimestamp timestamp;
    const QByteArray writtenAt = timestamp.textWithOffset(writtenAtMs);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ReportRow& row = rows[i];
        const PortCounters& c = row.counters;
        out.append(QByteArray::number(qulonglong(i + 1)));
        out.append(',');
        appendField(out, row.device);
        out.append(',');
        appendField(out, row.status);
        for (std::uint64_t n :
             {c.commandsSent, c.bytesSent, c.bytesReceived, c.bytesDropped, c.losses, c.returns}) {
            out.append(',');
            out.append(QByteArray::number(qulonglong(n)));
        }
        out.append(',');
        if (c.lastReceivedMs >= 0)
            timestamp.append(out, c.lastReceivedMs);
        out.append(',');
        out.append(QByteArray::number(qulonglong(row.logLinesLost)));
        out.append(',');
        out.append(writtenAt);
        appendVerdictColumns(out, row.verdict);
        out.append('\n');
    }
    return out;
}
