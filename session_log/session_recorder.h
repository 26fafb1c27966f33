#pragma once

#include "port_bank/port_observer.h"
#include "session_log/recording_outcome.h"
#include "session_log/run_report.h"

#include <QObject>
#include <QTimer>
#include <functional>

class SessionWriter;

// What the port bank does, handed to the session writer: each command sent, the bytes each port
// received and each port event become log records, stamped with the wall clock at the call;
// the run report is built from the bank's figures (and the log's lost lines) every 10 s and at
// the end. Lives on the
// window thread; every call returns at once (the writer formats and writes).
class SessionRecorder : public QObject, public PortObserver {
    Q_OBJECT
public:
    using RowSource = std::function<ReportRows()>;
    static constexpr int kReportIntervalMs = 10000;

    // rows: the report's sixteen rows as they stand now (read on the window thread).
    SessionRecorder(SessionWriter& writer, RowSource rows, QObject* parent = nullptr);

    void commandSent(int index, const QByteArray& bytes) override;
    void commandsSent(int index, std::span<const QByteArray> commands) override;
    void bytesReceived(int index, const QByteArray& bytes) override;
    void portEvent(int index, Event event, const QString& detail) override;
    bool isBehind() const override;

    // Hands the report as it stands now to the writer.
    void writeReport();
    // Writes the report as it stands now, at once, on this thread; empty, or what failed.
    QString writeReportNow();
    // The program is ending: everything is written and the writer ends, then the last report is
    // written with the log's losses counted. Says whether all of it is on disk.
    RecordingOutcome finish();

private:
    QByteArray reportNow() const;

    SessionWriter& writer_;
    RowSource rows_;
    QTimer reportTimer_;
    bool finished_ = false;
    RecordingOutcome outcome_;
};
