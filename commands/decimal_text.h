#pragma once

#include <QString>

// The decimal text of a number in a command or a display: digits, "-" in front when negative,
// no blank, no leading zero, no separator. Deliberately not QLocale: a controller must see the
// same command whatever the desktop's language.
inline QString decimalText(int value)
{
    return QString::number(value);
}
