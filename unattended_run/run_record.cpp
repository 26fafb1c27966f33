#include "unattended_run/run_record.h"

#include <algorithm>

RunRecord::RunRecord(std::int64_t startMs, Clock clock) : clock_(std::move(clock)), axis_(startMs)
{
}

std::int64_t RunRecord::reachNow()
{
    const std::int64_t now = clock_();
    if (const int doublings = axis_.doublingsToReach(now); doublings > 0) {
        // Open time up to the axis's end goes into the buckets it belongs to before they merge;
        // the time past it would all land in the last bucket, so it waits for the wider axis.
        for (PortRunRecord& port : ports_) {
            port.countUpTime(axis_, std::min(now, axis_.endMs()));
            port.mergeBuckets(doublings);
        }
        axis_.widen(doublings);
    }
    return now;
}

void RunRecord::bind(int index, const QString& device)
{
    if (!device.isEmpty())
        ports_[std::size_t(index)].bind(device, axis_.startMs());
}

void RunRecord::agreed(int index, std::int64_t answerMicros)
{
    if (endMs_ >= 0)
        return;
    const std::int64_t now = reachNow();
    ports_[std::size_t(index)].agreed(axis_, now, answerMicros);
}

void RunRecord::differed(int index, std::int64_t answerMicros, const QString& answer,
                         const QString& expected)
{
    if (endMs_ >= 0)
        return;
    const std::int64_t now = reachNow();
    ports_[std::size_t(index)].differed(axis_, now, answerMicros, answer, expected);
}

void RunRecord::missed(int index, const QString& sent, const QString& expected)
{
    if (endMs_ >= 0)
        return;
    const std::int64_t now = reachNow();
    ports_[std::size_t(index)].missed(axis_, now, sent, expected);
}

void RunRecord::logGap(int index, std::int64_t startMs, std::int64_t endMs, std::uint64_t lines)
{
    if (index < 0 || index >= kPorts)
        return;
    if (endMs_ < 0)
        reachNow();
    ports_[std::size_t(index)].logGap(axis_, std::max(startMs, axis_.startMs()), endMs, lines);
}

void RunRecord::bringUpToDate()
{
    if (endMs_ >= 0)
        return;
    const std::int64_t now = reachNow();
    for (PortRunRecord& port : ports_)
        port.countUpTime(axis_, now);
}

void RunRecord::end()
{
    if (endMs_ >= 0)
        return;
    const std::int64_t now = std::max(axis_.startMs(), reachNow());
    for (PortRunRecord& port : ports_)
        port.countUpTime(axis_, now);
    endMs_ = now;
}

void RunRecord::portEvent(int index, Event event, const QString& detail)
{
    if (endMs_ >= 0 || index < 0 || index >= kPorts)
        return;
    PortRunRecord& port = ports_[std::size_t(index)];
    switch (event) {
    case Event::Opened:
    case Event::Returned:
        port.opened(axis_, reachNow(), event == Event::Returned, detail);
        break;
    case Event::Lost:
        port.lost(axis_, reachNow(), detail);
        break;
    case Event::InUse:
        port.bind(detail, reachNow());
        break;
    case Event::Dropped:
    case Event::Discarded: // traffic, which the record does not keep
        break;
    }
}
