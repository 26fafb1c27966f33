#include "run_page/junit_report.h"

#include "run_page/markup_text.h"
#include "unattended_run/run_record.h"
#include "unattended_run/verdict.h"

#include <QDateTime>
#include <algorithm>

namespace {

QByteArray seconds(std::int64_t ms)
{
    return QByteArray::number(double(std::max<std::int64_t>(0, ms)) / 1000.0, 'f', 3);
}

QByteArray testCase(int portNumber, const PortRunRecord& port, std::int64_t endMs,
                    const PortVerdict& verdict)
{
    QByteArray out = "    <testcase classname=\"lightbench\" name=\"" +
                     markup(QStringLiteral("port %1 %2").arg(portNumber).arg(port.device())) +
                     "\" time=\"" + seconds(endMs - port.boundMs()) + "\"";
    if (verdict.passed)
        return out + "/>\n";
    out += ">\n      <failure message=\"" + markup(verdict.reasons.join(QStringLiteral(", "))) +
           "\" type=\"" + markup(verdict.reasons.value(0)) + "\">" +
           markup(QString::fromUtf8(verdictLine(portNumber, port))) + "</failure>\n";
    return out + "    </testcase>\n";
}

} // namespace

QByteArray junitXml(const RunRecord& record, bool evidenceComplete)
{
    const std::int64_t startMs = record.axis().startMs();
    const std::int64_t endMs = std::max(startMs, record.endMs());
    QByteArray cases;
    int tests = 0, failures = 0;
    for (int i = 0; i < RunRecord::kPorts; ++i) {
        const PortRunRecord& port = record.port(i);
        const PortVerdict verdict = verdictOf(port);
        if (!verdict.judged)
            continue;
        ++tests;
        failures += verdict.passed ? 0 : 1;
        cases += testCase(i + 1, port, endMs, verdict);
    }
    const QByteArray counts = "tests=\"" + QByteArray::number(tests) + "\" failures=\"" +
                              QByteArray::number(failures) + "\" errors=\"0\" time=\"" +
                              seconds(endMs - startMs) + "\"";
    const QByteArray timestamp =
        QDateTime::fromMSecsSinceEpoch(startMs).toString(Qt::ISODate).toLatin1();
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"lightbench\" " + counts +
           ">\n  <testsuite name=\"lightbench\" " + counts + " timestamp=\"" + timestamp +
           "\">\n    <properties>\n      <property name=\"command_line\" value=\"" +
           markup(record.commandLine().join(QLatin1Char(' '))) +
           "\"/>\n      <property name=\"evidence\" value=\"" +
           (evidenceComplete ? "complete" : "incomplete") + "\"/>\n    </properties>\n" + cases +
           "  </testsuite>\n</testsuites>\n";
}
