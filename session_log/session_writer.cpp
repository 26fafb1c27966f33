#include "session_log/session_writer.h"

#include "session_log/atomic_file.h"
#include "session_log/local_timestamp.h"
#include "session_log/log_file.h"
#include "session_log/received_lines.h"
#include "session_log/visible_text.h"

#include <QDateTime>
#include <QDir>
#include <cstdio>
#include <cstring>
#include <vector>

struct SessionWriter::PortLog {
    ReceivedLines received;
    std::unique_ptr<LogFile> file;
    QByteArray pending; // formatted lines not yet written
    bool failing = false;
    bool warned = false;
    std::int64_t retryAtMs = 0;
    std::uint64_t linesLost = 0;
    QString failure;
};

namespace {

// Formats log lines; one per thread (each writer has its own), as its timestamp keeps state.
struct LineFormat {
    LocalTimestamp timestamp;

    void append(QByteArray& out, std::int64_t ms, const char* tag, QByteArrayView text)
    {
        timestamp.append(out, ms);
        out.append(' ');
        out.append(tag);
        out.append(' ');
        out.append(text);
        out.append('\n');
    }
};

thread_local LineFormat lineFormat;

} // namespace

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

void SessionWriter::writeReport(QByteArray csv)
{
    if (settings_.reportPath.isEmpty())
        return;
    std::lock_guard lock(reportMutex_);
    report_ = std::move(csv);
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
    while (queue_.take(batch, std::chrono::milliseconds(100))) {
        for (const LogRecord& record : batch)
            handle(record);
        batch.clear();
        writePending(wallClockMs(), false);
        writePendingReport();
    }
    writePending(wallClockMs(), true);
    for (auto& port : ports_) {
        if (port->file) {
            if (const int error = port->file->sync(); error != 0)
                warn(QStringLiteral("%1: cannot flush to disk: %2")
                         .arg(port->file->path(), QString::fromLocal8Bit(std::strerror(error))));
            port->file->close();
        }
    }
    writePendingReport();
}

void SessionWriter::handle(const LogRecord& record)
{
    if (record.index < 0 || record.index >= RecordQueue::kPorts)
        return;
    PortLog& port = *ports_[std::size_t(record.index)];
    std::vector<ReceivedLines::Line> lines;
    const auto event = [&](const QString& text) {
        lineFormat.append(port.pending, record.ms, "--", VisibleText::ofText(text));
    };

    if (record.kind == LogRecord::Kind::Received) {
        port.received.add(record.ms, record.bytes, lines);
        for (const auto& line : lines)
            lineFormat.append(port.pending, line.ms, "RX", line.text);
        return;
    }

    // Whatever arrived before this record is written before it. A new connection, a lost one or
    // a gap in the log ends a character that was left unfinished, too.
    const bool ends =
        record.kind == LogRecord::Kind::Opened || record.kind == LogRecord::Kind::Returned ||
        record.kind == LogRecord::Kind::Lost || record.kind == LogRecord::Kind::QueueFull;
    port.received.flush(lines, ends);
    for (const auto& line : lines)
        lineFormat.append(port.pending, line.ms, "RX", line.text);

    switch (record.kind) {
    case LogRecord::Kind::Sent:
        lineFormat.append(port.pending, record.ms, "TX", VisibleText::of(record.bytes));
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
    case LogRecord::Kind::QueueFull:
        event(QStringLiteral("log queue full: %1 entries not logged").arg(record.count));
        break;
    case LogRecord::Kind::Note:
        lineFormat.append(port.pending, record.ms, "--", record.bytes);
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
            for (const auto& line : lines)
                lineFormat.append(port.pending, line.ms, "RX", line.text);
        }
        if (!port.pending.isEmpty())
            writePort(index, now);
    }
}

void SessionWriter::writePort(int index, std::int64_t now)
{
    PortLog& port = *ports_[std::size_t(index)];
    QByteArray lines;
    lines.swap(port.pending);
    if (port.failing && now < port.retryAtMs) {
        port.linesLost += std::uint64_t(lines.count('\n'));
        return;
    }
    if (!port.file) {
        const QString path =
            QDir(settings_.logDirectory).filePath(logFileName(settings_.runName, index + 1));
        port.file = std::make_unique<LogFile>(path, settings_.logLimit);
    }

    qsizetype noticeSize = 0;
    if (port.failing) {
        QByteArray notice;
        lineFormat.append(notice, now, "--",
                          VisibleText::ofText(QStringLiteral("log writing works again: %1 lines "
                                                             "not written (%2)")
                                                  .arg(port.linesLost)
                                                  .arg(port.failure)));
        noticeSize = notice.size();
        lines.prepend(notice);
    }

    const qsizetype written = port.file->append(lines);
    if (written >= noticeSize && port.failing) {
        port.failing = false;
        port.linesLost = 0;
    }
    if (written == lines.size())
        return;

    const std::uint64_t lost =
        std::uint64_t(QByteArrayView(lines).sliced(std::max(written, noticeSize)).count('\n'));
    port.linesLost += lost;
    port.failing = true;
    port.failure = port.file->error();
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
    {
        std::lock_guard lock(reportMutex_);
        report.swap(report_);
    }
    if (!report)
        return;
    const QString error = writeFileAtomically(settings_.reportPath, *report);
    if (!error.isEmpty() && !reportWarned_) {
        reportWarned_ = true;
        warn(QStringLiteral("run report: %1; it is tried again every time it is due").arg(error));
    }
}
