#include "session_log/session_recording.h"

#include "port_bank/port_bank.h"
#include "port_bank/port_status.h"
#include "session_log/local_timestamp.h"
#include "session_log/output_paths.h"
#include "session_log/session_recorder.h"
#include "session_log/session_writer.h"

#include <QFile>

QString reportStatus(std::uint32_t labelColour)
{
    switch (labelColour) {
    case PortStatusColour::Green:
        return QStringLiteral("open");
    case PortStatusColour::Blue:
        return QStringLiteral("in_use");
    case PortStatusColour::LightGray:
        return QStringLiteral("absent");
    case PortStatusColour::Red:
        return QStringLiteral("failed");
    default:
        return QString();
    }
}

ReportRows reportRows(PortBank& bank)
{
    ReportRows rows;
    for (int i = 0; i < PortBank::kPortCount; ++i) {
        ReportRow& row = rows[std::size_t(i)];
        row.device = bank.devicePath(i);
        row.status = reportStatus(bank.shownColour(i));
        row.counters = bank.port(i).counters();
    }
    return rows;
}

SessionRecording::SessionRecording(PortBank& bank, const Options& options, std::int64_t startMs)
    : bank_(bank)
{
    SessionWriter::Settings settings;
    settings.logDirectory = options.logDirectory;
    settings.logLimit = options.logLimit;
    if (!options.logDirectory.isEmpty())
        runName_ =
            claimRunName(options.logDirectory, SessionWriter::runNameAt(startMs), claimFile_);
    settings.runName = runName_;
    settings.reportPath = options.reportFile;
    settings.gap = options.logGap;
    settings.queueLimit = options.queueLimit;
    writer_ = std::make_unique<SessionWriter>(settings);
    recorder_ = std::make_unique<SessionRecorder>(*writer_, [&bank, verdicts = options.verdicts] {
        ReportRows rows = reportRows(bank);
        if (verdicts)
            verdicts(rows);
        return rows;
    });
    // The traffic only matters to the log; the report reads the counters.
    if (writer_->logsToFiles())
        bank_.addObserver(recorder_.get());
    recorder_->writeReport();
}

SessionRecording::~SessionRecording()
{
    finish();
}

QString SessionRecording::writeReportNow()
{
    return recorder_->writeReportNow();
}

void SessionRecording::note(int index, const QString& visibleText)
{
    if (!writer_->logsToFiles())
        return;
    LogRecord record = LogRecord::now(index, LogRecord::Kind::Note);
    record.bytes = visibleText.toUtf8();
    writer_->log(std::move(record));
}

RecordingOutcome SessionRecording::finish()
{
    bank_.removeObserver(recorder_.get());
    const RecordingOutcome outcome = recorder_->finish();
    if (!claimFile_.isEmpty())
        QFile::remove(claimFile_);
    claimFile_.clear();
    return outcome;
}
