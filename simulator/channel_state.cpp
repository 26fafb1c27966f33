#include "simulator/channel_state.h"

#include <cstring>

bool isChannelLetter(char letter)
{
    return letter != '\0' && (isDimmingLetter(letter) || std::strchr("ABCDEFGOPQNLJYZ", letter));
}
