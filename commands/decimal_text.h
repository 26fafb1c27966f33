#pragma once

#include <QString>

// The decimal text of a number in a command or a display: digits, "-" in front when negative,
// no blank, no leading zero, no separator. Deliberately not QLocale: a controller must see the
// same command whatever the desktop's language.
//
// Appended in place: the fast sweep forms a command with two of them for every step.
inline void appendDecimalText(QString& text, int value)
{
    char16_t digits[12];
    int n = 0;
    // In unsigned arithmetic, so that the lowest int has a magnitude too.
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[n++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[n++] = u'-';
    while (n > 0)
        text.append(QChar(digits[--n]));
}

inline QString decimalText(int value)
{
    QString text;
    appendDecimalText(text, value);
    return text;
}
