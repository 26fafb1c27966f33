#pragma once

#include "session_log/log_record.h"
#include "session_log/record_queue.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

// Writes the session log and the run report on a thread of its own, so that a slow or full disk
// never holds up the window. The window thread hands over records (log()) and report texts
// (writeReport()); both return at once.
//
// Each port's lines go to "<run>_portNN.log" in the log directory, created with the port's first
// line. When a file cannot be written (disk full, directory unwritable), the port's lines are
// counted and dropped, one warning per port goes to stderr, writing is tried again every second,
// and once it works the file gets a line saying how many lines are missing and why. Every line
// lost, by the queue or by the disk, is counted per port for the run (linesLost()). A file
// removed while in use (its directory deleted) is noticed at the next write: the directory is
// made again and a new file begun, with the lines of that write and a line saying so.
class SessionWriter {
public:
    struct Settings {
        QString logDirectory; // empty: no session log
        std::int64_t logLimit = 100 * 1024 * 1024;
        QString runName;    // first part of each file name, e.g. "2026-12-07T09-30-00"
        QString reportPath; // empty: no run report
        qsizetype queueLimit = 8 * 1024 * 1024;
        // Told, on the writer's thread, of every run of lines lost to port index's log: from the
        // first of them to when they were given up, and how many.
        std::function<void(int index, std::int64_t fromMs, std::int64_t toMs, std::uint64_t lines)>
            gap{};
    };
    using Warn = std::function<void(const QString&)>;

    // warn receives each warning (one line, no "\n"); by default they go to stderr.
    explicit SessionWriter(Settings settings, Warn warn = {});
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    bool logsToFiles() const { return !settings_.logDirectory.isEmpty(); }
    bool writesReport() const { return !settings_.reportPath.isEmpty(); }

    // From the window thread. false: the queue was full and the record is counted as a gap.
    bool log(LogRecord&& record);
    // From the window thread: commands of port index sent together at ms, one line each.
    // false: the queue was full and they are counted as a gap.
    bool logSent(int index, std::int64_t ms, std::span<const QByteArray> commands);
    // Whether the writer is behind (RecordQueue::isBehind()). Any thread.
    bool isBehind() const { return queue_.isBehind(); }
    // From the window thread: the report is written soon, replacing an older one not yet written.
    void writeReport(QByteArray csv);

    // Writes the report now, on the calling thread, and says what failed (empty: written). A
    // report handed over earlier and not yet written is dropped.
    QString writeReportNow(const QByteArray& csv);

    // Writes everything handed over so far (a port whose disk failed is tried once more), ends
    // unfinished lines, writes the last report given, forces the files to the disk and ends the
    // thread. Nothing is accepted afterwards.
    void finish();

    // The log lines of port index (0..15) lost so far: turned away by the full queue or not
    // written to the disk. Any thread.
    std::uint64_t linesLost(int index) const;
    // After finish(): why lines of the port are missing or may be (the last failure), or empty
    // when its log is whole.
    QString lossReason(int index) const;

    // "<run>_port03.log": runs sort by time and, within a run, ports by number.
    static QString logFileName(const QString& runName, int portNumber);
    // The run name for a start at msSinceEpoch, local time: "2026-12-07T09-30-00".
    static QString runNameAt(std::int64_t msSinceEpoch);

    // How long a port's unfinished received line waits for more bytes before it is written.
    static constexpr int kIdleFlushMs = 500;
    static constexpr int kRetryMs = 1000;
    // A port's formatted lines go to its file once this many bytes are waiting or the first of
    // them has waited kWriteAfterMs: a busy log writes in pieces large enough for the system to
    // keep them in large pages (at two million lines a second, a seventh less of the writer's
    // time than pieces of 64 KiB), and a quiet one is on disk within a fraction of a second.
    static constexpr qsizetype kWriteBytes = 256 * 1024;
    static constexpr int kWriteAfterMs = 100;

private:
    struct PortLog;

    void run();
    void handle(const LogRecord& record, QByteArrayView payload);
    void writePending(std::int64_t now, bool final);
    void writePort(int index, std::int64_t now, bool final);
    qsizetype appendToFile(int index, QByteArray& lines, qsizetype& noticeSize);
    void countLost(int index, std::uint64_t lines, std::int64_t fromMs, std::int64_t toMs);
    void writePendingReport();
    void warn(const QString& text);

    Settings settings_;
    Warn warn_;
    RecordQueue queue_;
    std::array<std::unique_ptr<PortLog>, RecordQueue::kPorts> ports_;

    std::array<std::atomic<std::uint64_t>, RecordQueue::kPorts> linesLost_{};

    std::mutex reportMutex_;
    std::optional<QByteArray> report_;
    std::uint64_t reportsMade_ = 0;  // reports handed over, numbered in the order made
    std::uint64_t reportMade_ = 0;   // the number of report_
    std::mutex reportFileMutex_;     // one writer of the report's files at a time
    std::uint64_t reportOnDisk_ = 0; // the number of the last report written
    bool reportWarned_ = false;

    std::thread thread_;
    bool finished_ = false;
};
