#include "main_window/receive_log.h"

#include <limits>

namespace {

// Characters of text, counting no further than `stop`; a surrogate pair is one.
int countUpTo(QStringView text, int stop)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size() && count < stop; ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++count;
    }
    return count;
}

} // namespace

int ReceiveLog::characterCount(QStringView text)
{
    return countUpTo(text, std::numeric_limits<int>::max());
}

bool ReceiveLog::isOverLimit(QStringView text, QStringView more)
{
    const int first = countUpTo(text, kLimit + 1);
    if (first > kLimit)
        return true;
    // The two are counted apart: more is a decoded chunk, which never begins with the second
    // half of a pair.
    return first + countUpTo(more, kLimit + 1 - first) > kLimit;
}
