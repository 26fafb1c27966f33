#include "unattended_run/answer_judge.h"

#include "port_bank/wire_text.h"

#include <QHash>

namespace {

// The answer more than half of the answering ports gave, if there is one.
std::optional<QByteArray> majorityOf(const std::array<bool, CheckJudgement::kPorts>& asked,
                                     const CheckAnswers& answers)
{
    QHash<QByteArray, int> tally;
    int answered = 0;
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        if (asked[std::size_t(i)] && answers[std::size_t(i)]) {
            ++tally[*answers[std::size_t(i)]];
            ++answered;
        }
    }
    for (auto it = tally.cbegin(); it != tally.cend(); ++it) {
        if (2 * it.value() > answered)
            return it.key();
    }
    return std::nullopt;
}

} // namespace

CheckJudgement judgeAnswers(const std::array<bool, CheckJudgement::kPorts>& asked,
                            const CheckAnswers& answers, const QRegularExpression* expect)
{
    using Outcome = CheckJudgement::Outcome;
    CheckJudgement judgement;
    std::optional<QByteArray> majority;
    bool anyAnswer = false;
    for (int i = 0; i < CheckJudgement::kPorts; ++i)
        anyAnswer = anyAnswer || (asked[std::size_t(i)] && answers[std::size_t(i)]);
    if (!expect && anyAnswer) {
        majority = majorityOf(asked, answers);
        judgement.noMajority = !majority;
        judgement.majority = majority.value_or(QByteArray());
    }
    for (int i = 0; i < CheckJudgement::kPorts; ++i) {
        const std::size_t at = std::size_t(i);
        if (!asked[at]) {
            judgement.outcomes[at] = Outcome::NotAsked;
        } else if (!answers[at]) {
            judgement.outcomes[at] = Outcome::Missed;
        } else if (expect) {
            const QString text = WireDecoder().decode(*answers[at]);
            judgement.outcomes[at] =
                expect->match(text).hasMatch() ? Outcome::Agreed : Outcome::Differed;
        } else {
            judgement.outcomes[at] =
                !majority || *answers[at] == *majority ? Outcome::Agreed : Outcome::Differed;
        }
    }
    return judgement;
}
