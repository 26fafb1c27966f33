#include "unattended_run/status_check.h"

#include "port_bank/broadcast.h"
#include "port_bank/port_bank.h"
#include "session_log/visible_text.h"
#include "unattended_run/run_record.h"

#include <algorithm>
#include <cstdio>

namespace {

QString visible(const QByteArray& bytes)
{
    return QString::fromUtf8(VisibleText::of(bytes));
}

} // namespace

StatusCheck::StatusCheck(PortBank& bank, RunRecord& record, Settings settings, QueryText query,
                         QObject* parent)
    : QObject(parent), bank_(bank), record_(record), settings_(std::move(settings)),
      query_(std::move(query))
{
    clock_.start();
    intervalTimer_.setInterval(settings_.intervalMs);
    connect(&intervalTimer_, &QTimer::timeout, this, &StatusCheck::runCheck);
    settleTimer_.setSingleShot(true);
    settleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&settleTimer_, &QTimer::timeout, this, &StatusCheck::settleOrWait);
    bank_.addObserver(this);
}

StatusCheck::~StatusCheck()
{
    bank_.removeObserver(this);
}

void StatusCheck::stop()
{
    intervalTimer_.stop();
    settleTimer_.stop();
    if (waiting_) {
        waiting_ = false;
        bank_.sendGate().release();
    }
}

void StatusCheck::runCheck()
{
    if (waiting_)
        return;
    const QString query = query_();
    if (query.isEmpty()) {
        if (!warnedOfEmptyQuery_)
            std::fputs("lightbench: the status query box is empty: no check is sent until it "
                       "holds a query (warned once)\n",
                       stderr);
        warnedOfEmptyQuery_ = true;
        return;
    }
    bool anyOpen = false;
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        asked_[std::size_t(i)] = bank_.port(i).isOpen();
        anyOpen = anyOpen || asked_[std::size_t(i)];
        lines_[std::size_t(i)].begin();
        writtenNs_[std::size_t(i)] = -1;
    }
    if (!anyOpen)
        return;
    // The query takes the ordinary road, so the log shows it as any command; each port's write
    // time comes back through commandSent().
    firstWriteNs_ = clock_.nsecsElapsed();
    sending_ = true;
    sendToAllPorts(bank_, query);
    // A line may hold a command back until the next look at the system: the query is handed
    // over now, so that each port's write time is known here.
    bank_.pushOutput();
    sending_ = false;
    for (int i = 0; i < CheckJudgement::kPorts; ++i)
        asked_[std::size_t(i)] = asked_[std::size_t(i)] && writtenNs_[std::size_t(i)] >= 0;
    waiting_ = true;
    bank_.sendGate().hold();
    settleTimer_.start(settings_.timeoutMs);
}

void StatusCheck::commandSent(int index, const QByteArray&)
{
    if (sending_)
        writtenNs_[std::size_t(index)] = clock_.nsecsElapsed();
}

void StatusCheck::bytesReceived(int index, const QByteArray& bytes)
{
    if (!waiting_ || !asked_[std::size_t(index)])
        return;
    lines_[std::size_t(index)].add(bytes, clock_.nsecsElapsed());
    // Once every port has answered, the check ends kQuietMs after the last byte; the settling
    // happens on the timer, never inside this call from the bank.
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        if (asked_[std::size_t(i)] && !lines_[std::size_t(i)].hasAnswer())
            return;
    }
    settleTimer_.start(0);
}

void StatusCheck::portEvent(int index, Event event, const QString&)
{
    // A port lost while the check waits is not judged by this check: its loss is the verdict.
    if (waiting_ && event == Event::Lost)
        asked_[std::size_t(index)] = false;
}

void StatusCheck::settleOrWait()
{
    if (!waiting_)
        return;
    const std::int64_t now = clock_.nsecsElapsed();
    const std::int64_t deadline = firstWriteNs_ + std::int64_t(settings_.timeoutMs) * 1000000;
    std::int64_t quietFrom = 0;
    bool allAnswered = true;
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        if (!asked_[std::size_t(i)])
            continue;
        allAnswered = allAnswered && lines_[std::size_t(i)].hasAnswer();
        quietFrom = std::max(quietFrom, lines_[std::size_t(i)].lastByteNs());
    }
    const std::int64_t settledAt = quietFrom + std::int64_t(kQuietMs) * 1000000;
    if (now >= deadline || (allAnswered && now >= settledAt)) {
        finish();
        return;
    }
    const std::int64_t wakeAt = allAnswered ? std::min(settledAt, deadline) : deadline;
    settleTimer_.start(int((wakeAt - now + 999999) / 1000000));
}

void StatusCheck::finish()
{
    CheckAnswers answers;
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        if (asked_[std::size_t(i)] && lines_[std::size_t(i)].hasAnswer())
            answers[std::size_t(i)] = lines_[std::size_t(i)].answer();
    }
    const CheckJudgement judgement =
        judgeAnswers(asked_, answers, settings_.expect ? &*settings_.expect : nullptr);
    record(judgement);
    const qint64 queryToVerdict = clock_.nsecsElapsed() - firstWriteNs_;
    waiting_ = false;
    releaseSendGate(bank_);
    emit judged(judgement, queryToVerdict);
}

QString StatusCheck::expectedText(const CheckJudgement& judgement) const
{
    if (settings_.expect)
        return QStringLiteral("/%1/").arg(settings_.expect->pattern());
    return visible(judgement.majority);
}

void StatusCheck::record(const CheckJudgement& judgement)
{
    using Outcome = CheckJudgement::Outcome;
    const QString expected = expectedText(judgement);
    record_.countCheck();
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        const AnswerLine& line = lines_[std::size_t(i)];
        const std::int64_t micros = (line.answerEndNs() - writtenNs_[std::size_t(i)]) / 1000;
        QString noteText;
        switch (judgement.outcomes[std::size_t(i)]) {
        case Outcome::NotAsked:
            break;
        case Outcome::Agreed:
            record_.agreed(i, micros);
            if (judgement.noMajority)
                noteText = QStringLiteral("check: no answer was given by most ports; nobody is "
                                          "judged (this port answered \"%1\")")
                               .arg(visible(line.answer()));
            break;
        case Outcome::Differed:
            record_.differed(i, micros, visible(line.answer()), expected);
            noteText = QStringLiteral("check: answered \"%1\", %2 \"%3\"")
                           .arg(visible(line.answer()),
                                settings_.expect ? QStringLiteral("which does not match")
                                                 : QStringLiteral("most ports answered"),
                                expected);
            break;
        case Outcome::Missed:
            record_.missed(i, visible(line.unfinished()), expected);
            noteText =
                QStringLiteral("check: no answer within %1 ms (sent \"%2\"; expected \"%3\")")
                    .arg(settings_.timeoutMs)
                    .arg(visible(line.unfinished()), expected);
            break;
        }
        if (!noteText.isEmpty() && note_)
            note_(i, noteText);
    }
}
