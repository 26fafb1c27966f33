#pragma once

#include <cstdint>

// The speeds a controller runs its effects at, as STA and STB set them. The reference names the
// commands and the fade's range (1 s to 100 s from dark to bright) but no units; these are ours:
// STA n: each flash is n x 10 ms on and n x 10 ms off (STA50: half a second each);
// STB n, 1 to 99: a running light moves one channel every n x 10 ms (STB30: 0.3 s);
// STB n, 100 to 200: dark to bright takes 1 s + (n - 100) x 0.99 s (STB100: 1 s, STB200: 100 s).
struct ControllerTiming {
    std::int64_t flashHalfPeriodMs = 500; // STA50
    std::int64_t runningStepMs = 300;     // STB30
    std::int64_t fadeFullMs = 1000;       // STB100

    static std::int64_t flashHalfPeriodFor(std::uint32_t sta) { return std::int64_t(sta) * 10; }
    static std::int64_t runningStepFor(std::uint32_t stb) { return std::int64_t(stb) * 10; }
    static std::int64_t fadeFullFor(std::uint32_t stb)
    {
        return 1000 + (std::int64_t(stb) - 100) * 990;
    }
};

// How bright a channel shows at nowMs, 0 to 100 %: flashes and running lights follow the
// controller's clock, so all channels with the same effect move in step; N, L and J and the
// fades count from when the channel was set.
struct ChannelState;
int channelLevel(const ChannelState& channel, const ControllerTiming& timing, std::int64_t nowMs);
