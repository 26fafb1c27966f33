#include "session_log/recording_outcome.h"

bool RecordingOutcome::complete() const
{
    for (std::size_t i = 0; i < logLinesLost.size(); ++i) {
        if (logLinesLost[i] > 0 || !lossReasons[i].isEmpty())
            return false;
    }
    return reportFailure.isEmpty();
}

QString RecordingOutcome::summary() const
{
    if (complete())
        return QString();
    QString text = QStringLiteral("lightbench: the evidence of this run is incomplete\n");
    for (std::size_t i = 0; i < logLinesLost.size(); ++i) {
        if (logLinesLost[i] == 0 && lossReasons[i].isEmpty())
            continue;
        text += QStringLiteral("lightbench: port %1: %2 session log lines lost (%3)\n")
                    .arg(i + 1)
                    .arg(logLinesLost[i])
                    .arg(lossReasons[i]);
    }
    if (!reportFailure.isEmpty())
        text += QStringLiteral("lightbench: the last run report could not be written, so the "
                               "one on disk is older (see its written_at): %1\n")
                    .arg(reportFailure);
    return text;
}
