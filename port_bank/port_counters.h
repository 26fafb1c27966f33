#pragma once

#include <cstdint>

// What one port has done since the program started: the figures behind the status label's
// tooltip and the run report. Plain numbers, counted by the port object itself.
struct PortCounters {
    std::uint64_t commandsSent = 0;   // broadcasts that reached this port's output
    std::uint64_t bytesSent = 0;      // bytes of those commands, as encoded for the wire
    std::uint64_t bytesReceived = 0;  // every byte that arrived, shown or dropped
    std::uint64_t bytesDropped = 0;   // bytes that arrived but were dropped by the receive bound
    std::uint64_t losses = 0;         // times the device went away while open
    std::uint64_t returns = 0;        // times a port opened again after a loss
    std::int64_t lastReceivedMs = -1; // wall-clock ms since the epoch of the last byte; -1: none

    bool operator==(const PortCounters&) const = default;
};
