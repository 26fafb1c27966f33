#pragma once

#include <QString>
#include <cstdint>

// How often one kind of thing happened within a bucket, and the first of them: its time and
// its texts (visible form, at most kTextLength characters each), for a mark's hover text.
struct TimelineMark {
    static constexpr int kTextLength = 80;

    std::uint32_t count = 0;
    std::int64_t firstMs = -1;
    QString first; // e.g. the answer a port gave
    QString other; // e.g. the answer most ports gave

    void add(std::int64_t ms, const QString& text = QString(),
             const QString& otherText = QString());
    // later: the mark of the bucket that follows this one.
    void merge(const TimelineMark& later);
};

// One port within one bucket of the time axis: its events, its checks' outcomes and answer
// times, and how long it was open.
struct TimelineBucket {
    TimelineMark opened, lost, returned, missed, differed;
    TimelineMark logGaps;      // lines the session log lost; text: how many and until when
    std::uint32_t answers = 0; // checks answered (agreed or differed) in the bucket
    double answerMsSum = 0;
    double answerMsMax = 0;
    std::int64_t upMs = 0; // time open within the bucket

    void merge(const TimelineBucket& later);
};

// text cut to kTextLength characters, never in the middle of a surrogate pair.
QString cutForTimeline(const QString& text);
