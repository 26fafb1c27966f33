#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Channels first to last (inclusive) take the letters of pattern in turn, starting again at its
// first letter when it runs out: "10-20B" is {10, 20, "B"}, "10AABB" is {10, 13, "AABB"},
// "0-1999(EFG)" is {0, 1999, "EFG"}, a bare "5" is {5, 5, "A"}. last may lie far beyond the
// controller's channels; applying clips it. pattern points into the command being parsed.
struct ChannelSetting {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::string_view pattern;
};

// One command of the instruction language, parsed from its body (what stands between the
// colons and the closing '.').
struct Instruction {
    enum class Kind {
        AllOn,          // ZAVA
        AllFlash,       // ZAVC
        ListOthersOff,  // ZAVB and a list (an empty list: all off)
        ListOthersKept, // ZAVZ and a list
        FlashSpeed,     // STA n
        RunningSpeed,   // STB n, 1 to 99
        FadeSpeed,      // STB n, 100 to 200
        BoardAddress,   // SET_BOARD_ADR=hhhh
    };
    Kind kind = Kind::AllOn;
    std::uint32_t value = 0; // the speed or the address
    std::vector<ChannelSetting> settings;
};

// The highest channel number a command may name; larger numbers make the command invalid.
inline constexpr std::uint32_t kHighestChannelNumber = 65535;

// Parses body into out (its settings vector is reused: no allocation once it has grown).
// Returns false, with out unspecified, for anything that is not a whole valid command.
bool parseInstruction(std::string_view body, Instruction& out);
