#pragma once

#include "session_log/log_record.h"
#include "session_log/record_queue.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Writes the session log and the run report on a thread of its own, so that a slow or full disk
// never holds up the window. The window thread hands over records (log()) and report texts
// (writeReport()); both return at once.
//
// Each port's lines go to "<run>_portNN.log" in the log directory, created with the port's first
// line. When a file cannot be written (disk full, directory unwritable), the port's lines are
// counted and dropped, one warning per port goes to stderr, writing is tried again every second,
// and once it works the file gets a line saying how many lines are missing and why.
class SessionWriter {
public:
    struct Settings {
        QString logDirectory; // empty: no session log
        std::int64_t logLimit = 100 * 1024 * 1024;
        QString runName;    // first part of each file name, e.g. "2026-12-07T09-30-00"
        QString reportPath; // empty: no run report
        qsizetype queueLimit = 8 * 1024 * 1024;
    };
    using Warn = std::function<void(const QString&)>;

    // warn receives each warning (one line, no "\n"); by default they go to stderr.
    explicit SessionWriter(Settings settings, Warn warn = {});
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    bool logsToFiles() const { return !settings_.logDirectory.isEmpty(); }

    // From the window thread. false: the queue was full and the record is counted as a gap.
    bool log(LogRecord&& record);
    // From the window thread: the report is written soon, replacing an older one not yet written.
    void writeReport(QByteArray csv);

    // Writes everything handed over so far, ends unfinished lines, writes the last report given,
    // forces the files to the disk and ends the thread. Nothing is accepted afterwards.
    void finish();

    // "<run>_port03.log": runs sort by time and, within a run, ports by number.
    static QString logFileName(const QString& runName, int portNumber);
    // The run name for a start at msSinceEpoch, local time: "2026-12-07T09-30-00".
    static QString runNameAt(std::int64_t msSinceEpoch);

    // How long a port's unfinished received line waits for more bytes before it is written.
    static constexpr int kIdleFlushMs = 500;
    static constexpr int kRetryMs = 1000;

private:
    struct PortLog;

    void run();
    void handle(const LogRecord& record);
    void writePending(std::int64_t now, bool final);
    void writePort(int index, std::int64_t now);
    void writePendingReport();
    void warn(const QString& text);

    Settings settings_;
    Warn warn_;
    RecordQueue queue_;
    std::array<std::unique_ptr<PortLog>, RecordQueue::kPorts> ports_;

    std::mutex reportMutex_;
    std::optional<QByteArray> report_;
    bool reportWarned_ = false;

    std::thread thread_;
    bool finished_ = false;
};
