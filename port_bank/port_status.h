#pragma once

#include <QString>
#include <cstdint>

// What a status label shows after an opening pass has tried its port.
struct PortStatus {
    QString caption;
    std::uint32_t rgb = 0; // 0xRRGGBB

    bool operator==(const PortStatus&) const = default;
};

namespace PortStatusColour {
inline constexpr std::uint32_t Green = 0x00FF00;     // open
inline constexpr std::uint32_t Blue = 0x0000FF;      // held by another program
inline constexpr std::uint32_t LightGray = 0xC0C0C0; // no such port
inline constexpr std::uint32_t Red = 0xFF0000;       // any other failure
} // namespace PortStatusColour

// The first row that applies: open; not open with no failure yet; 8005 in use; 8002 no such
// port; anything else. portNumber is 1 to 16; lastError is the pass's last-error code.
PortStatus classifyPort(int portNumber, bool isOpen, std::int32_t lastError);

// The caption a status label carries before any pass: "串口" and the port number.
QString portCaption(int portNumber);
