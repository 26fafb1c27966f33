#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The command line of an unattended run: --start, --for, --check, --check-timeout, --expect.
// A run is unattended when --for or --check is given, or a file that holds the verdict.
struct UnattendedOptions {
    enum class Start { None, Timed, Fast };
    enum class Taken { No, Yes, Refused };

    static constexpr int kDefaultCheckTimeoutMs = 1000;
    static constexpr int kMaxCheckTimeoutMs = 60000;

    Start start = Start::None;
    std::int64_t forMs = 0;   // 0: no end of its own
    std::int64_t checkMs = 0; // 0: no status checks
    int checkTimeoutMs = kDefaultCheckTimeoutMs;
    bool checkTimeoutGiven = false;
    QString expect;            // empty: compare the ports with each other
    bool verdictFiles = false; // a run page or a JUnit file is asked for

    bool isUnattended() const { return forMs > 0 || checkMs > 0 || verdictFiles; }

    // Takes the option at arguments[i], alone or joined with "=", with its value; why says what
    // is wrong with a refused one.
    Taken take(const QStringList& arguments, qsizetype& i, QString& why);
    // Sets the option name to value; says what is wrong with a refused value.
    QString apply(const QString& name, const QString& value);
    // What is wrong with the options together (--expect without --check); empty if nothing.
    QString conflicts() const;
};

// "90s", "30m", "8h" or a bare number of seconds, decimals allowed; none for zero, negative,
// unknown units or more than a year.
std::optional<std::int64_t> parseDurationMs(const QString& text);
