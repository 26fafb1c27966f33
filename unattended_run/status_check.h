#pragma once

#include "port_bank/port_observer.h"
#include "unattended_run/answer_judge.h"
#include "unattended_run/answer_line.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRegularExpression>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

class PortBank;
class RunRecord;

// Every interval, between two commands of whatever is being sent, sends the status query to
// every open port and holds all other sending until the answers are in: once every port asked
// has sent a complete line and then been quiet for kQuietMs, or at the timeout. Then it judges
// the answers (answer_judge.h), records each port's outcome and opens the send gate again.
// The answers still reach the receive boxes and the log as any reply does.
class StatusCheck : public QObject, public PortObserver {
    Q_OBJECT
public:
    // After a port's answer line, a further line may still come: the last one counts.
    static constexpr int kQuietMs = 20;

    struct Settings {
        int intervalMs = 0;
        int timeoutMs = 1000;
        std::optional<QRegularExpression> expect; // none: compare the ports with each other
    };
    using QueryText = std::function<QString()>;                  // the status query box
    using Note = std::function<void(int index, const QString&)>; // a "--" line for a port's log

    StatusCheck(PortBank& bank, RunRecord& record, Settings settings, QueryText query,
                QObject* parent = nullptr);
    ~StatusCheck() override;

    void setNote(Note note) { note_ = std::move(note); }
    void start() { intervalTimer_.start(); }
    // The program is ending: no further check, a check that waits is dropped unjudged.
    void stop();
    bool isWaiting() const { return waiting_; }

    // Sends the query now, unless a check is waiting or no port is open.
    void runCheck();

    void commandSent(int index, const QByteArray& bytes) override;
    void bytesReceived(int index, const QByteArray& bytes) override;
    void portEvent(int index, Event event, const QString& detail) override;

signals:
    // A check was judged; queryToVerdictNs from the query's first write to the judgement.
    void judged(const CheckJudgement& judgement, qint64 queryToVerdictNs);

private:
    void settleOrWait();
    void finish();
    void record(const CheckJudgement& judgement);
    QString expectedText(const CheckJudgement& judgement) const;

    PortBank& bank_;
    RunRecord& record_;
    Settings settings_;
    QueryText query_;
    Note note_;
    QTimer intervalTimer_;
    QTimer settleTimer_;
    QElapsedTimer clock_;

    bool sending_ = false;
    bool waiting_ = false;
    bool warnedOfEmptyQuery_ = false;
    std::int64_t firstWriteNs_ = 0;
    std::array<bool, CheckJudgement::kPorts> asked_{};
    std::array<std::int64_t, CheckJudgement::kPorts> writtenNs_{};
    std::array<AnswerLine, CheckJudgement::kPorts> lines_{};
};
