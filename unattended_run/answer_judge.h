#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <array>
#include <optional>

// Judges the answers of one status check. Every controller received the same bytes, so healthy
// ones of one kind answer alike: a port whose answer differs from the one most ports gave is
// judged different. "Most" is more than half of the ports that answered; without such a
// majority nobody is judged. With an expected pattern the ports are not compared: an answer
// passes when the pattern matches somewhere in it (anchor it with ^ and $ to match it whole).
struct CheckJudgement {
    enum class Outcome { NotAsked, Missed, Agreed, Differed };
    static constexpr int kPorts = 16;

    std::array<Outcome, kPorts> outcomes{};
    bool noMajority = false;
    QByteArray majority; // the answer most ports gave; empty with a pattern or no majority
};

using CheckAnswers = std::array<std::optional<QByteArray>, CheckJudgement::kPorts>;

// asked: the ports the query went to; answers: their answer lines (none: missed). expect: null
// to compare the ports with each other.
CheckJudgement judgeAnswers(const std::array<bool, CheckJudgement::kPorts>& asked,
                            const CheckAnswers& answers, const QRegularExpression* expect);
