#pragma once

#include <QString>
#include <optional>

// The line settings of a settings text such as "115200,n,8,1".
struct SerialSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baudRate = 115200;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    bool operator==(const SerialSettings&) const = default;
};

// Parses "baud,parity,data,stop": parity n, e, o, m or s in either case; data bits 5 to 8;
// stop bits 1, 1.5 or 2. Returns nothing for a text it refuses.
std::optional<SerialSettings> parseSerialSettings(const QString& text);
