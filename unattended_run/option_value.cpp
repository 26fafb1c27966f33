#include "unattended_run/option_value.h"

OptionValue::Read OptionValue::read(const QStringList& arguments, qsizetype& i,
                                    std::span<const QString> names, bool negativeValues,
                                    OptionValue& option, QString& why)
{
    const QString& argument = arguments[i];
    for (const QString& candidate : names) {
        if (argument == candidate) {
            const bool missing = i + 1 >= arguments.size();
            const QString& next = missing ? argument : arguments[i + 1];
            const bool looksLikeOption =
                negativeValues ? next.startsWith(QLatin1String("--")) || next == QLatin1String("-h")
                               : next.startsWith(QLatin1Char('-'));
            if (missing || looksLikeOption) {
                why = QStringLiteral("%1 needs a value after it").arg(candidate);
                return Read::Refused;
            }
            option = {candidate, arguments[++i]};
            return Read::Taken;
        }
        if (argument.startsWith(candidate + QLatin1Char('='))) {
            option = {candidate, argument.mid(candidate.size() + 1)};
            return Read::Taken;
        }
    }
    return Read::NotOurs;
}
