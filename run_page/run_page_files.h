#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <future>
#include <optional>

class PortBank;
class RunRecord;

// The files --html and --junit name. The page is written at the start, again every interval
// (a minute) while the run lasts, and once more at the end; the JUnit file at the end only.
// Every write replaces the file atomically. The page is drawn on the caller's thread (it reads
// the record) and written on another, so a slow disk never holds the sweep; a write still
// running when the next is due lets that one pass.
class RunPageFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 60 * 1000;

    struct Paths {
        QString html;  // empty: no page
        QString junit; // empty: no JUnit file
    };

    RunPageFiles(const Paths& paths, std::function<QByteArray()> page, int intervalMs = kIntervalMs,
                 QObject* parent = nullptr);
    ~RunPageFiles() override;

    // Writes the page now and starts the timer.
    void start();
    // The last page and the JUnit file, written before this returns. What could not be written,
    // one text per file; empty when both were. Nothing is written afterwards.
    QStringList finish(const QByteArray& junit);

private:
    void writeInBackground();
    void waitForWrite();

    Paths paths_;
    std::function<QByteArray()> page_;
    QTimer timer_;
    std::future<QString> pending_;
    QString lastWarning_;
    bool finished_ = false;
};

// The checks of the report's file for --html and --junit, and the refusal of two of these
// options naming the same file. Empty when all is well, else what is wrong.
QString checkRunFiles(const QString& html, const QString& junit, const QString& report);

// The page of the run as it stands: the record brought up to date, the report's rows read from
// the bank. evidenceComplete is read at each call (it is known at the end only).
std::function<QByteArray()> runPageSource(PortBank& bank, RunRecord& record,
                                          const QString& buildTag,
                                          const std::optional<bool>& evidenceComplete);
