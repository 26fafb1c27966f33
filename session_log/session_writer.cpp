#include "session_log/session_writer.h"

#include "session_log/atomic_file.h"
#include "session_log/local_timestamp.h"
#include "session_log/log_file.h"
#include "session_log/pending_lines.h"
#include "session_log/received_lines.h"
#include "session_log/visible_text.h"

#include <QDateTime>
#include <QDir>
#include <QScopeGuard>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

struct SessionWriter::PortLog {
    ReceivedLines received;
    std::unique_ptr<LogFile> file;
    PendingLines pending; // formatted lines not yet written
    bool failing = false;
    bool warned = false;
    std::int64_t retryAtMs = 0;
    std::uint64_t linesLost = 0; // in the outage going on, for the line that ends it
    QString failure;
    QString lossReason; // why lines were last lost, or why the log may not be whole
};

SessionWriter::SessionWriter(Settings settings, Warn warn)
    : settings_(std::move(settings)), warn_(std::move(warn)), queue_(settings_.queueLimit)
{
    for (auto& port : ports_)
        port = std::make_unique<PortLog>();
    thread_ = std::thread([this] { run(); });
}

SessionWriter::~SessionWriter()
{
    finish();
}

QString SessionWriter::logFileName(const QString& runName, int portNumber)
{
    return QStringLiteral("%1_port%2.log").arg(runName).arg(portNumber, 2, 10, QLatin1Char('0'));
}

QString SessionWriter::runNameAt(std::int64_t msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
        .toString(QStringLiteral("yyyy-MM-ddTHH-mm-ss"));
}

bool SessionWriter::log(LogRecord&& record)
{
    if (!logsToFiles())
        return true;
    return queue_.push(std::move(record));
}

bool SessionWriter::logSent(int index, std::int64_t ms, std::span<const QByteArray> commands)
{
    if (!logsToFiles())
        return true;
    return queue_.pushSent(index, ms, commands);
}

void SessionWriter::writeReport(QByteArray csv)
{
    if (settings_.reportPath.isEmpty())
        return;
    std::lock_guard lock(reportMutex_);
    report_ = std::move(csv);
    reportMade_ = ++reportsMade_;
}

QString SessionWriter::writeReportNow(const QByteArray& csv)
{
    std::uint64_t made = 0;
    {
        std::lock_guard lock(reportMutex_);
        report_.reset();
        made = ++reportsMade_;
    }
    std::lock_guard lock(reportFileMutex_);
    reportOnDisk_ = made;
    return writeFileAtomically(settings_.reportPath, csv);
}

void SessionWriter::finish()
{
    if (finished_)
        return;
    finished_ = true;
    queue_.close();
    if (thread_.joinable())
        thread_.join();
}

std::uint64_t SessionWriter::linesLost(int index) const
{
    return linesLost_[std::size_t(index)].load(std::memory_order_relaxed);
}

QString SessionWriter::lossReason(int index) const
{
    return ports_[std::size_t(index)]->lossReason;
}

void SessionWriter::countLost(int index, std::uint64_t lines, std::int64_t fromMs,
                              std::int64_t toMs)
{
    linesLost_[std::size_t(index)].fetch_add(lines, std::memory_order_relaxed);
    if (settings_.gap && lines > 0)
        settings_.gap(index, fromMs, toMs, lines);
}

void SessionWriter::warn(const QString& text)
{
    if (warn_)
        warn_(text);
    else
        std::fprintf(stderr, "lightbench: %s\n", text.toLocal8Bit().constData());
}

void SessionWriter::run()
{
    std::vector<LogRecord> batch;
    QByteArray payload;
    // A quiet log is looked at as often as its lines are due on disk.
    while (queue_.take(batch, payload, std::chrono::milliseconds(kWriteAfterMs))) {
        for (const LogRecord& record : batch)
            handle(record, payload);
        batch.clear();
        payload.resize(0);
        writePending(wallClockMs(), false);
        writePendingReport();
    }
    writePending(wallClockMs(), true);
    for (auto& port : ports_) {
        if (port->file) {
            if (const int error = port->file->sync(); error != 0) {
                port->lossReason =
                    QStringLiteral("%1: cannot flush to disk: %2")
                        .arg(port->file->path(), QString::fromLocal8Bit(std::strerror(error)));
                warn(port->lossReason);
            }
            port->file->close();
        }
    }
    writePendingReport();
}

void SessionWriter::handle(const LogRecord& record, QByteArrayView payload)
{
    if (record.index < 0 || record.index >= RecordQueue::kPorts)
        return;
    PortLog& port = *ports_[std::size_t(record.index)];
    std::vector<ReceivedLines::Line> lines;
    const auto event = [&](const QString& text) {
        port.pending.add(record.ms, "--", VisibleText::ofText(text));
    };

    if (record.kind == LogRecord::Kind::Received) {
        port.received.add(record.ms, record.bytes, lines);
        port.pending.addLines(lines);
        return;
    }

    // Whatever arrived before this record is written before it. A new connection, a lost one or
    // a gap in the log ends a character that was left unfinished, too.
    const bool ends =
        record.kind == LogRecord::Kind::Opened || record.kind == LogRecord::Kind::Returned ||
        record.kind == LogRecord::Kind::Lost || record.kind == LogRecord::Kind::QueueFull;
    port.received.flush(lines, ends);
    port.pending.addLines(lines);

    switch (record.kind) {
    case LogRecord::Kind::Sent:
        port.pending.addSent(record.ms, record.bytes);
        break;
    case LogRecord::Kind::SentMany:
        port.pending.addSentMany(
            record.ms, payload.sliced(qsizetype(record.payloadAt), qsizetype(record.payloadSize)),
            record.count);
        break;
    case LogRecord::Kind::Opened:
        event(QStringLiteral("opened %1").arg(record.text));
        break;
    case LogRecord::Kind::InUse:
        event(QStringLiteral("in use %1").arg(record.text));
        break;
    case LogRecord::Kind::Lost:
        event(QStringLiteral("lost %1").arg(record.text));
        break;
    case LogRecord::Kind::Returned:
        event(QStringLiteral("returned %1").arg(record.text));
        break;
    case LogRecord::Kind::Dropped:
        event(QStringLiteral("dropped %1 received bytes").arg(record.count));
        break;
    case LogRecord::Kind::Discarded:
        event(QStringLiteral("discarded at close: %1 not sent").arg(record.text));
        break;
    case LogRecord::Kind::QueueFull:
        countLost(record.index, record.count, record.ms, wallClockMs());
        port.lossReason = QStringLiteral("the log queue was full");
        event(QStringLiteral("log queue full: %1 lines (%2 bytes) not logged")
                  .arg(record.count)
                  .arg(record.byteCount));
        break;
    case LogRecord::Kind::Note:
        port.pending.add(record.ms, "--", record.bytes);
        break;
    case LogRecord::Kind::Received:
        break;
    }
}

void SessionWriter::writePending(std::int64_t now, bool final)
{
    for (int index = 0; index < RecordQueue::kPorts; ++index) {
        PortLog& port = *ports_[std::size_t(index)];
        // A line that stopped short (no line end yet) is written once the port falls silent.
        if (final || (port.received.hasUnfinishedText() &&
                      now - port.received.lastArrivalMs() >= kIdleFlushMs)) {
            std::vector<ReceivedLines::Line> lines;
            port.received.flush(lines, final);
            port.pending.addLines(lines);
        }
        if (!port.pending.isEmpty() && (final || port.pending.size() >= kWriteBytes ||
                                        now - port.pending.firstMs() >= kWriteAfterMs))
            writePort(index, now, final);
    }
}

// Appends lines (noticeSize bytes of notices first) to the port's file. A file found removed
// after the write (its directory deleted) took the lines into nothing: a new one is begun and
// takes them again, after a line saying so.
qsizetype SessionWriter::appendToFile(int index, QByteArray& lines, qsizetype& noticeSize)
{
    PortLog& port = *ports_[std::size_t(index)];
    const qsizetype written = port.file->append(lines);
    if (!port.file->wasRemoved())
        return written;
    port.file->close();
    warn(QStringLiteral("session log of port %1: %2 was removed during the run; a new file is "
                        "begun")
             .arg(index + 1)
             .arg(port.file->path()));
    QByteArray notice;
    PendingLines::appendLine(notice, port.pending.firstMs(), "--",
                             "log file removed during the run: a new one is begun");
    lines.prepend(notice);
    noticeSize += notice.size();
    return port.file->append(lines);
}

void SessionWriter::writePort(int index, std::int64_t now, bool final)
{
    PortLog& port = *ports_[std::size_t(index)];
    QByteArray lines;
    port.pending.swapText(lines);
    // The buffer goes back for the next lines: a busy log would otherwise give up and grow
    // again tens of kilobytes a port many times a second.
    const auto keepBuffer = qScopeGuard([&] {
        if (port.pending.isEmpty()) {
            lines.resize(0);
            port.pending.swapText(lines);
        }
    });
    if (port.failing && now < port.retryAtMs && !final) {
        const auto lost = std::uint64_t(lines.count('\n'));
        port.linesLost += lost;
        countLost(index, lost, port.pending.firstMs(), now);
        return;
    }
    if (!port.file) {
        const QString path =
            QDir(settings_.logDirectory).filePath(logFileName(settings_.runName, index + 1));
        port.file = std::make_unique<LogFile>(path, settings_.logLimit);
    }

    qsizetype noticeSize = 0;
    if (port.failing) {
        // Stamped as the first line it precedes, so that the times in the file never go back.
        QByteArray notice;
        PendingLines::appendLine(
            notice, std::min(now, port.pending.firstMs()), "--",
            VisibleText::ofText(QStringLiteral("log writing works again: %1 lines "
                                               "not written (%2)")
                                    .arg(port.linesLost)
                                    .arg(port.failure)));
        noticeSize = notice.size();
        lines.prepend(notice);
    }

    const bool wasFailing = port.failing;
    const qsizetype written = appendToFile(index, lines, noticeSize);
    if (written >= noticeSize && wasFailing) {
        port.failing = false;
        port.linesLost = 0;
    }
    if (written == lines.size())
        return;

    const std::uint64_t lost =
        std::uint64_t(QByteArrayView(lines).sliced(std::max(written, noticeSize)).count('\n'));
    port.linesLost += lost;
    countLost(index, lost, port.pending.firstMs(), now);
    port.failing = true;
    port.failure = port.file->error();
    port.lossReason = port.failure;
    port.retryAtMs = now + kRetryMs;
    if (!port.warned) {
        port.warned = true;
        warn(QStringLiteral("session log of port %1: %2; the bench goes on, and the log says how "
                            "many lines are missing once it can be written again")
                 .arg(index + 1)
                 .arg(port.failure));
    }
}

void SessionWriter::writePendingReport()
{
    std::optional<QByteArray> report;
    std::uint64_t made = 0;
    {
        std::lock_guard lock(reportMutex_);
        report.swap(report_);
        made = reportMade_;
    }
    if (!report)
        return;
    std::lock_guard lock(reportFileMutex_);
    if (made < reportOnDisk_)
        return; // a newer one was written meanwhile
    reportOnDisk_ = made;
    const QString error = writeFileAtomically(settings_.reportPath, *report);
    if (!error.isEmpty() && !reportWarned_) {
        reportWarned_ = true;
        warn(QStringLiteral("run report: %1; it is tried again every time it is due").arg(error));
    }
}
