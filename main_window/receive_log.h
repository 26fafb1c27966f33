#pragma once

#include <QStringView>

// The receive log's rules: its length in characters (a Chinese character is one, and so is a
// character outside the basic plane, which QString holds as two code units) and its limit.
namespace ReceiveLog {
inline constexpr int kLimit = 1000;

int characterCount(QStringView text);

// More than the limit: the log empties itself, the newest text included.
inline bool isOverLimit(QStringView text)
{
    return characterCount(text) > kLimit;
}

// Whether text followed by more (a received chunk) is over the limit; counts no further than the
// limit.
bool isOverLimit(QStringView text, QStringView more);
} // namespace ReceiveLog
