#include "session_log/byte_size.h"

#include <limits>

std::optional<std::int64_t> parseByteSize(const QString& text)
{
    qsizetype digits = 0;
    while (digits < text.size() && text[digits] >= QLatin1Char('0') &&
           text[digits] <= QLatin1Char('9'))
        ++digits;
    if (digits == 0 || text.size() - digits > 1)
        return std::nullopt;

    int shift = 0;
    if (digits < text.size()) {
        switch (text[digits].toUpper().unicode()) {
        case 'K':
            shift = 10;
            break;
        case 'M':
            shift = 20;
            break;
        case 'G':
            shift = 30;
            break;
        default:
            return std::nullopt;
        }
    }

    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (qsizetype i = 0; i < digits; ++i) {
        const int digit = text[i].unicode() - '0';
        if (value > (kMax - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (value > (kMax >> shift))
        return std::nullopt;
    return value << shift;
}
