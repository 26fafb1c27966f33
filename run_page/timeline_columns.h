#pragma once

#include "unattended_run/time_axis.h"
#include "unattended_run/timeline_bucket.h"

#include <cstdint>
#include <vector>

class RunRecord;

// One port's row of the page in kColumns columns at most, drawn from the record's buckets. The
// record's axis is between half used and full, so every column takes one or two buckets and the
// page's size does not depend on how long the run was.
struct TimelineColumn {
    static constexpr int kColumns = TimeAxis::kBuckets / 2;

    std::int64_t startMs = 0, endMs = 0; // within the run
    TimelineBucket events;               // the buckets merged
    std::int64_t neverOpenedMs = 0;      // bound but not yet opened for the first time
    std::int64_t downMs = 0;             // bound, opened before, now closed (lost until returned)
};

// The columns of port index up to the run's end, or up to nowMs while it runs. Bring the record
// up to date first, so that open time is counted to now.
std::vector<TimelineColumn> timelineColumns(const RunRecord& record, int index, std::int64_t nowMs);

// Where the run's time ends on the page: its end, or now while it runs (never before its start).
std::int64_t runEndOnPage(const RunRecord& record, std::int64_t nowMs);
