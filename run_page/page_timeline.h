#pragma once

#include <QByteArray>
#include <cstdint>

class RunRecord;

// The page's timeline: one inline SVG with a row of fixed height per bound port. In each row a
// band shows up (open), down (lost until returned) and never-opened time; above it, per column,
// marks for missed answers, differing answers and log gaps, each with its hover text; over the
// band a thin line of the answer time. A failed port's number and verdict are in the failure
// colour, which nothing else on the timeline uses.
namespace PageTimeline {
constexpr int kRowHeight = 44;
constexpr const char* kFailureColour = "#d00000";

QByteArray svg(const RunRecord& record, std::int64_t nowMs);
} // namespace PageTimeline
