#pragma once

#include <QtGlobal>
#include <chrono>

// One clock for every thread of the soak, so that a time taken in the peer thread can be
// compared with one taken in the window's.
inline qint64 soakNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
