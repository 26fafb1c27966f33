#include "unattended_run/timeline_bucket.h"

#include <algorithm>

QString cutForTimeline(const QString& text)
{
    qsizetype length = std::min<qsizetype>(text.size(), TimelineMark::kTextLength);
    if (length > 0 && length < text.size() && text[length - 1].isHighSurrogate())
        --length;
    return text.left(length);
}

void TimelineMark::add(std::int64_t ms, const QString& text, const QString& otherText)
{
    if (count++ == 0) {
        firstMs = ms;
        first = cutForTimeline(text);
        other = cutForTimeline(otherText);
    }
}

void TimelineMark::merge(const TimelineMark& later)
{
    if (count == 0) {
        *this = later;
        return;
    }
    count += later.count;
}

void TimelineBucket::merge(const TimelineBucket& later)
{
    opened.merge(later.opened);
    lost.merge(later.lost);
    returned.merge(later.returned);
    missed.merge(later.missed);
    differed.merge(later.differed);
    logGaps.merge(later.logGaps);
    answers += later.answers;
    answerMsSum += later.answerMsSum;
    answerMsMax = std::max(answerMsMax, later.answerMsMax);
    upMs += later.upMs;
}
