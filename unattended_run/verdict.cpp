#include "unattended_run/verdict.h"

#include "session_log/local_timestamp.h"
#include "unattended_run/run_record.h"

PortVerdict verdictOf(const PortRunRecord& port)
{
    PortVerdict verdict;
    verdict.judged = port.isBound();
    if (!verdict.judged)
        return verdict;
    if (port.opens() == 0)
        verdict.reasons.append(QStringLiteral("never opened"));
    if (port.losses() > 0)
        verdict.reasons.append(QStringLiteral("lost %1").arg(port.losses()));
    if (port.missedCount() > 0)
        verdict.reasons.append(QStringLiteral("missed %1").arg(port.missedCount()));
    if (port.differedCount() > 0)
        verdict.reasons.append(QStringLiteral("differed %1").arg(port.differedCount()));
    verdict.passed = verdict.reasons.isEmpty();
    return verdict;
}

bool anyPortFailed(const RunRecord& record)
{
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        const PortVerdict verdict = verdictOf(record.port(i));
        if (verdict.judged && !verdict.passed)
            return true;
    }
    return false;
}

VerdictColumns verdictColumns(const PortRunRecord& port)
{
    VerdictColumns columns;
    const PortVerdict verdict = verdictOf(port);
    columns.judged = verdict.judged;
    columns.passed = verdict.passed;
    columns.checks = port.checks();
    columns.missed = port.missedCount();
    columns.differed = port.differedCount();
    const AnswerHistogram& times = port.answerTimes();
    if (times.count() > 0) {
        columns.answerMicrosP50 = times.percentileMicros(0.50);
        columns.answerMicrosP99 = times.percentileMicros(0.99);
        columns.answerMicrosMax = times.maxMicros();
    }
    return columns;
}

void fillVerdictColumns(ReportRows& rows, const RunRecord& record)
{
    for (int i = 0; i < RunRecord::kPorts; ++i)
        rows[std::size_t(i)].verdict = verdictColumns(record.port(i));
}

QByteArray verdictLine(int portNumber, const PortRunRecord& port)
{
    const PortVerdict verdict = verdictOf(port);
    if (!verdict.judged)
        return QByteArray();
    QByteArray line = "port " + QByteArray::number(portNumber) + ' ' + port.device().toUtf8();
    if (verdict.passed)
        return line + " pass";
    line += " fail: " + verdict.reasons.join(QStringLiteral(", ")).toUtf8();
    // A port that never opened failed from the moment it was bound.
    const std::int64_t first = port.opens() == 0 ? port.boundMs() : port.firstFailureMs();
    if (first >= 0)
        line += "; first at " + LocalTimestamp().text(first);
    return line;
}

QByteArray verdictText(const RunRecord& record, bool evidenceComplete)
{
    QByteArray text;
    int bound = 0;
    QList<int> failed;
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        const PortRunRecord& port = record.port(i);
        const QByteArray line = verdictLine(i + 1, port);
        if (line.isEmpty())
            continue;
        text += line + '\n';
        ++bound;
        if (!verdictOf(port).passed)
            failed.append(i + 1);
    }
    QByteArray failedList;
    for (int number : failed)
        failedList += (failedList.isEmpty() ? ": " : ", ") + QByteArray::number(number);
    text += "summary: " + QByteArray::number(bound - int(failed.size())) + " of " +
            QByteArray::number(bound) + " bound ports passed, " +
            QByteArray::number(failed.size()) + " failed" + failedList + "; " +
            QByteArray::number(qulonglong(record.checksRun())) + " checks" +
            (evidenceComplete ? "" : "; evidence incomplete") + '\n';
    return text;
}
