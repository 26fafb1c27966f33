#include "unattended_run/unattended_options.h"

#include "unattended_run/option_value.h"

#include <QRegularExpression>
#include <cmath>

namespace {

constexpr double kYearMs = 366.0 * 24 * 3600 * 1000;

// A plain decimal number: digits with at most one point, no sign, blank or exponent.
std::optional<double> plainNumber(const QString& text)
{
    static const QRegularExpression kNumber(QStringLiteral("^(\\d+(\\.\\d*)?|\\.\\d+)$"));
    if (!kNumber.match(text).hasMatch())
        return std::nullopt;
    return text.toDouble();
}

} // namespace

std::optional<std::int64_t> parseDurationMs(const QString& text)
{
    double unitMs = 1000;
    QString number = text;
    if (text.endsWith(QLatin1Char('s')))
        number.chop(1);
    else if (text.endsWith(QLatin1Char('m')))
        unitMs = 60 * 1000, number.chop(1);
    else if (text.endsWith(QLatin1Char('h')))
        unitMs = 3600 * 1000, number.chop(1);
    const std::optional<double> value = plainNumber(number);
    if (!value)
        return std::nullopt;
    const double ms = std::round(*value * unitMs);
    if (ms < 1 || ms > kYearMs)
        return std::nullopt;
    return std::int64_t(ms);
}

UnattendedOptions::Taken UnattendedOptions::take(const QStringList& arguments, qsizetype& i,
                                                 QString& why)
{
    static const QString kNames[] = {QStringLiteral("--start"), QStringLiteral("--for"),
                                     QStringLiteral("--check"), QStringLiteral("--check-timeout"),
                                     QStringLiteral("--expect")};
    // "--for --check" is a slip; "--check -1" is a negative value, refused below.
    OptionValue option;
    switch (OptionValue::read(arguments, i, kNames, true, option, why)) {
    case OptionValue::Read::NotOurs:
        return Taken::No;
    case OptionValue::Read::Refused:
        return Taken::Refused;
    case OptionValue::Read::Taken:
        break;
    }
    const QString& name = option.name;
    const QString& value = option.value;
    why = apply(name, value);
    return why.isEmpty() ? Taken::Yes : Taken::Refused;
}

QString UnattendedOptions::apply(const QString& name, const QString& value)
{
    QString why;
    if (name == QLatin1String("--start")) {
        if (value == QLatin1String("timed"))
            start = Start::Timed;
        else if (value == QLatin1String("fast"))
            start = Start::Fast;
        else
            why = QStringLiteral("--start takes timed or fast, not '%1'").arg(value);
    } else if (name == QLatin1String("--for")) {
        const std::optional<std::int64_t> ms = parseDurationMs(value);
        if (ms)
            forMs = *ms;
        else
            why = QStringLiteral("--for '%1' is not a duration such as 90s, 30m or 8h (above 0, "
                                 "at most a year)")
                      .arg(value);
    } else if (name == QLatin1String("--check")) {
        const std::optional<double> seconds = plainNumber(value);
        if (seconds && *seconds >= 0.1 && *seconds <= 86400)
            checkMs = std::int64_t(std::round(*seconds * 1000));
        else
            why = QStringLiteral("--check '%1' is not a number of seconds from 0.1 to 86400")
                      .arg(value);
    } else if (name == QLatin1String("--check-timeout")) {
        const std::optional<double> ms = plainNumber(value);
        if (ms && *ms >= 1 && *ms <= kMaxCheckTimeoutMs && *ms == std::floor(*ms)) {
            checkTimeoutMs = int(*ms);
            checkTimeoutGiven = true;
        } else {
            why = QStringLiteral("--check-timeout '%1' is not a whole number of milliseconds from "
                                 "1 to %2")
                      .arg(value)
                      .arg(kMaxCheckTimeoutMs);
        }
    } else {
        const QRegularExpression pattern(value);
        if (value.isEmpty())
            why = QStringLiteral("--expect needs a pattern");
        else if (!pattern.isValid())
            why = QStringLiteral("--expect '%1' does not compile: %2 at offset %3")
                      .arg(value, pattern.errorString())
                      .arg(pattern.patternErrorOffset());
        else
            expect = value;
    }
    return why;
}

QString UnattendedOptions::conflicts() const
{
    if (checkMs == 0 && checkTimeoutGiven)
        return QStringLiteral("--check-timeout is given without --check");
    if (checkMs == 0 && !expect.isEmpty())
        return QStringLiteral("--expect is given without --check");
    return QString();
}
