#pragma once

#include <cstdint>

// One output channel of a simulated controller: the state letter it was last given and when.
// Y and Z never stay here: Y becomes the letter it inverts to, Z leaves the channel as it was.
struct ChannelState {
    char letter = 'B';      // off at power-up
    std::int64_t since = 0; // when the letter was set (ms on the controller's clock)
    int fromLevel = 0;      // brightness in % when a fade (h, i) began
};

// Letters a channel can be given: A B on/off, C D flash, E F G and O P Q running lights, N L J
// flash then on, Y invert, Z keep, a to k dimming.
bool isChannelLetter(char letter);
// Lower case a to k: the letters a relay channel ignores.
inline bool isDimmingLetter(char letter)
{
    return letter >= 'a' && letter <= 'k';
}
