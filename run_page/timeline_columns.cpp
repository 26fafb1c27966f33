#include "run_page/timeline_columns.h"

#include "unattended_run/run_record.h"

#include <algorithm>

namespace {

std::int64_t overlap(std::int64_t from, std::int64_t to, std::int64_t otherFrom,
                     std::int64_t otherTo)
{
    return std::max<std::int64_t>(0, std::min(to, otherTo) - std::max(from, otherFrom));
}

} // namespace

std::int64_t runEndOnPage(const RunRecord& record, std::int64_t nowMs)
{
    const std::int64_t end = record.endMs() >= 0 ? record.endMs() : nowMs;
    return std::max(end, record.axis().startMs() + 1);
}

std::vector<TimelineColumn> timelineColumns(const RunRecord& record, int index, std::int64_t nowMs)
{
    const TimeAxis& axis = record.axis();
    const PortRunRecord& port = record.port(index);
    const std::int64_t runEnd = runEndOnPage(record, nowMs);
    const int used = axis.bucketOf(runEnd - 1) + 1;
    const int count = std::min(used, TimelineColumn::kColumns);

    std::vector<TimelineColumn> columns(static_cast<std::size_t>(count));
    for (int bucket = 0; bucket < used; ++bucket) {
        TimelineColumn& column = columns[std::size_t(bucket * count / used)];
        if (column.endMs == 0)
            column.startMs = axis.bucketStartMs(bucket);
        column.endMs = std::min(runEnd, axis.bucketStartMs(bucket) + axis.widthMs());
        column.events.merge(port.buckets()[std::size_t(bucket)]);
    }
    // The last bucket also holds what fell past the axis; the run's end closes the last column.
    columns.back().endMs = runEnd;

    if (!port.isBound())
        return columns;
    const std::int64_t firstOpened = port.firstOpenedMs() >= 0 ? port.firstOpenedMs() : runEnd;
    for (TimelineColumn& column : columns) {
        column.neverOpenedMs = overlap(column.startMs, column.endMs, port.boundMs(), firstOpened);
        const std::int64_t bound = overlap(column.startMs, column.endMs, port.boundMs(), runEnd);
        column.downMs =
            std::max<std::int64_t>(0, bound - column.neverOpenedMs - column.events.upMs);
    }
    return columns;
}
