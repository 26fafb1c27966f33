#pragma once

#include "port_bank/port_observer.h"
#include "session_log/run_report.h"

#include <QObject>
#include <QTimer>
#include <functional>

class SessionWriter;

// What the port bank does, handed to the session writer: each command sent, the bytes each port
// received and each port event become log records, stamped with the wall clock at the call;
// the run report is built from the bank's figures every 10 s and at the end. Lives on the
// window thread; every call returns at once (the writer formats and writes).
class SessionRecorder : public QObject, public PortObserver {
    Q_OBJECT
public:
    using RowSource = std::function<ReportRows()>;
    static constexpr int kReportIntervalMs = 10000;

    // rows: the report's sixteen rows as they stand now (read on the window thread).
    SessionRecorder(SessionWriter& writer, RowSource rows, QObject* parent = nullptr);

    void commandSent(int index, const QByteArray& bytes) override;
    void bytesReceived(int index, const QByteArray& bytes) override;
    void portEvent(int index, Event event, const QString& detail) override;

    // Hands the report as it stands now to the writer.
    void writeReport();
    // The program is ending: the last report, then everything is written and the writer ends.
    void finish();

private:
    SessionWriter& writer_;
    RowSource rows_;
    QTimer reportTimer_;
    bool finished_ = false;
};
