#include "session_log/session_recorder.h"

#include "session_log/local_timestamp.h"
#include "session_log/session_writer.h"

namespace {

// The bank's bytes may be a view of a read buffer that is reused as soon as the call returns, or
// a small part of a large block that Qt read into; the writer thread gets bytes of its own, and
// the queue's byte count is then what they really hold.
QByteArray ownCopy(const QByteArray& bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

LogRecord::Kind kindOf(PortObserver::Event event)
{
    switch (event) {
    case PortObserver::Event::Opened:
        return LogRecord::Kind::Opened;
    case PortObserver::Event::InUse:
        return LogRecord::Kind::InUse;
    case PortObserver::Event::Lost:
        return LogRecord::Kind::Lost;
    case PortObserver::Event::Returned:
        return LogRecord::Kind::Returned;
    case PortObserver::Event::Dropped:
        return LogRecord::Kind::Dropped;
    case PortObserver::Event::Discarded:
        break;
    }
    return LogRecord::Kind::Discarded;
}

} // namespace

SessionRecorder::SessionRecorder(SessionWriter& writer, RowSource rows, QObject* parent)
    : QObject(parent), writer_(writer), rows_(std::move(rows))
{
    connect(&reportTimer_, &QTimer::timeout, this, &SessionRecorder::writeReport);
    reportTimer_.start(kReportIntervalMs);
}

void SessionRecorder::commandSent(int index, const QByteArray& bytes)
{
    LogRecord record = LogRecord::now(index, LogRecord::Kind::Sent);
    // A command's bytes are the broadcast's own, encoded once for all ports: shared, not copied
    // sixteen times (the count is atomic, so the writer thread may hold them). Only a view of a
    // buffer owned elsewhere, which has no capacity of its own, is copied.
    record.bytes = bytes.capacity() >= bytes.size() ? bytes : ownCopy(bytes);
    writer_.log(std::move(record));
}

void SessionRecorder::commandsSent(int index, std::span<const QByteArray> commands)
{
    if (commands.size() == 1) {
        commandSent(index, commands.front());
        return;
    }
    if (commands.empty() || !writer_.logsToFiles())
        return;
    // One record, one clock reading and one turn of the queue's lock for the lot: at full speed
    // a port's write takes a dozen commands or more. The bytes are copied, so the writer thread
    // never touches the broadcast's own counts.
    writer_.logSent(index, wallClockMs(), commands);
}

void SessionRecorder::bytesReceived(int index, const QByteArray& bytes)
{
    LogRecord record = LogRecord::now(index, LogRecord::Kind::Received);
    record.bytes = ownCopy(bytes);
    writer_.log(std::move(record));
}

void SessionRecorder::portEvent(int index, Event event, const QString& detail)
{
    LogRecord record = LogRecord::now(index, kindOf(event));
    if (event == Event::Dropped)
        record.count = detail.toULongLong();
    record.text = detail;
    writer_.log(std::move(record));
}

bool SessionRecorder::isBehind() const
{
    return !finished_ && writer_.isBehind();
}

QByteArray SessionRecorder::reportNow() const
{
    ReportRows rows = rows_();
    for (int i = 0; i < int(rows.size()); ++i)
        rows[std::size_t(i)].logLinesLost = writer_.linesLost(i);
    return runReportCsv(rows, wallClockMs());
}

void SessionRecorder::writeReport()
{
    if (!finished_ && writer_.writesReport())
        writer_.writeReport(reportNow());
}

QString SessionRecorder::writeReportNow()
{
    if (finished_ || !writer_.writesReport())
        return QString();
    return writer_.writeReportNow(reportNow());
}

RecordingOutcome SessionRecorder::finish()
{
    if (finished_)
        return outcome_;
    finished_ = true;
    reportTimer_.stop();
    writer_.finish();
    for (int i = 0; i < int(outcome_.logLinesLost.size()); ++i) {
        outcome_.logLinesLost[std::size_t(i)] = writer_.linesLost(i);
        outcome_.lossReasons[std::size_t(i)] = writer_.lossReason(i);
    }
    if (writer_.writesReport())
        outcome_.reportFailure = writer_.writeReportNow(reportNow());
    return outcome_;
}
