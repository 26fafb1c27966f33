#include "run_page/run_page_files.h"

#include "run_page/run_page.h"
#include "session_log/atomic_file.h"
#include "session_log/file_calls.h"
#include "session_log/local_timestamp.h"
#include "session_log/output_paths.h"
#include "session_log/session_recording.h"
#include "unattended_run/run_record.h"
#include "unattended_run/verdict.h"

#include <QFileInfo>
#include <cstdio>

RunPageFiles::RunPageFiles(const Paths& paths, std::function<QByteArray()> page, int intervalMs,
                           QObject* parent)
    : QObject(parent), paths_(paths), page_(std::move(page))
{
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &RunPageFiles::writeInBackground);
}

RunPageFiles::~RunPageFiles()
{
    waitForWrite();
}

void RunPageFiles::start()
{
    if (paths_.html.isEmpty())
        return;
    writeInBackground();
    timer_.start();
}

void RunPageFiles::waitForWrite()
{
    if (!pending_.valid())
        return;
    const QString why = pending_.get();
    // One warning per kind of trouble, not one a minute; the end says it again if it stays.
    if (!why.isEmpty() && why != lastWarning_)
        std::fprintf(stderr, "lightbench: run page: %s\n", why.toLocal8Bit().constData());
    lastWarning_ = why;
}

void RunPageFiles::writeInBackground()
{
    if (finished_)
        return;
    if (pending_.valid()) {
        if (pending_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        waitForWrite();
    }
    pending_ = std::async(std::launch::async, writeFileAtomically, paths_.html, page_());
}

QStringList RunPageFiles::finish(const QByteArray& junit)
{
    timer_.stop();
    waitForWrite();
    QStringList failures;
    if (finished_)
        return failures;
    finished_ = true;
    if (!paths_.html.isEmpty()) {
        if (const QString why = writeFileAtomically(paths_.html, page_()); !why.isEmpty())
            failures.append(QStringLiteral("run page: ") + why);
    }
    if (!paths_.junit.isEmpty()) {
        if (const QString why = writeFileAtomically(paths_.junit, junit); !why.isEmpty())
            failures.append(QStringLiteral("JUnit file: ") + why);
    }
    return failures;
}

namespace {

// Where path is, after its folder's links are followed; the file's own identity when it exists.
QString placeOf(const QString& path)
{
    const QFileInfo info(path);
    if (const QString identity = file_calls::identityOf(path); !identity.isEmpty())
        return identity;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

} // namespace

QString checkRunFiles(const QString& html, const QString& junit, const QString& report)
{
    const std::pair<const char*, QString> files[] = {
        {"--report", report}, {"--html", html}, {"--junit", junit}};
    for (const auto& [option, path] : files) {
        if (path.isEmpty() || option == files[0].first)
            continue;
        // The report's checks, said of this option.
        QString why = checkReportPath(path);
        if (!why.isEmpty())
            return why.replace(0, int(qstrlen("--report")), QLatin1String(option));
    }
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (files[i].second.isEmpty() || files[j].second.isEmpty())
                continue;
            if (placeOf(files[i].second) == placeOf(files[j].second))
                return QStringLiteral("%1 and %2 name the same file %3")
                    .arg(QLatin1String(files[i].first), QLatin1String(files[j].first),
                         files[j].second);
        }
    }
    return QString();
}

std::function<QByteArray()> runPageSource(PortBank& bank, RunRecord& record,
                                          const QString& buildTag,
                                          const std::optional<bool>& evidenceComplete)
{
    return [&bank, &record, buildTag, &evidenceComplete] {
        record.bringUpToDate();
        ReportRows rows = reportRows(bank);
        fillVerdictColumns(rows, record);
        // The log's lost lines as its writer told them, gap by gap.
        for (int i = 0; i < RunRecord::kPorts; ++i)
            rows[std::size_t(i)].logLinesLost = record.port(i).logLinesLost();
        const std::int64_t now = wallClockMs();
        return runPageHtml(record,
                           RunPageFacts{buildTag, now, evidenceComplete, runReportCsv(rows, now)});
    };
}
