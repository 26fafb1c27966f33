#include "simulator/controller_timing.h"

#include "simulator/channel_state.h"

#include <algorithm>

namespace {

std::int64_t elapsed(const ChannelState& channel, std::int64_t nowMs)
{
    return std::max<std::int64_t>(0, nowMs - channel.since);
}

int flashThenOn(int flashes, const ChannelState& channel, const ControllerTiming& timing,
                std::int64_t nowMs)
{
    const std::int64_t half = std::max<std::int64_t>(1, timing.flashHalfPeriodMs);
    const std::int64_t halves = elapsed(channel, nowMs) / half;
    if (halves >= 2 * flashes)
        return 100;
    return halves % 2 == 0 ? 100 : 0; // each flash: on, then off
}

} // namespace

int channelLevel(const ChannelState& channel, const ControllerTiming& timing, std::int64_t nowMs)
{
    const std::int64_t now = std::max<std::int64_t>(0, nowMs);
    const std::int64_t flashHalf = std::max<std::int64_t>(1, timing.flashHalfPeriodMs);
    const std::int64_t step = (now / std::max<std::int64_t>(1, timing.runningStepMs)) % 3;
    const std::int64_t fadeFull = std::max<std::int64_t>(1, timing.fadeFullMs);
    switch (channel.letter) {
    case 'A':
    case 'a':
    case 'g':
        return 100;
    case 'B':
    case 'b':
        return 0;
    case 'c':
        return 20;
    case 'd':
        return 40;
    case 'e':
        return 60;
    case 'f':
        return 80;
    case 'j':
    case 'k':
        return 50; // dimmed, by an amount the reference does not give
    case 'C':
        return (now / flashHalf) % 2 == 0 ? 100 : 0;
    case 'D':
        return (now / flashHalf) % 2 == 1 ? 100 : 0;
    case 'E':
        return step == 0 ? 100 : 0;
    case 'F':
        return step == 1 ? 100 : 0;
    case 'G':
        return step == 2 ? 100 : 0;
    case 'O': // two of three lit, the dark one moving along
        return step != 2 ? 100 : 0;
    case 'P':
        return step != 0 ? 100 : 0;
    case 'Q':
        return step != 1 ? 100 : 0;
    case 'N':
        return flashThenOn(3, channel, timing, nowMs);
    case 'L':
        return flashThenOn(2, channel, timing, nowMs);
    case 'J':
        return flashThenOn(1, channel, timing, nowMs);
    case 'h':
        return int(std::min<std::int64_t>(100, channel.fromLevel +
                                                   elapsed(channel, nowMs) * 100 / fadeFull));
    case 'i':
        return int(std::max<std::int64_t>(0, channel.fromLevel -
                                                 elapsed(channel, nowMs) * 100 / fadeFull));
    default:
        return 0;
    }
}
