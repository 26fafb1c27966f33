#pragma once

#include <QString>

// Which device stands behind each port number 1 to 16.
class PortDirectory {
public:
    static constexpr int kPortCount = 16;

    virtual ~PortDirectory() = default;

    // The device path bound to portNumber, or an empty string when that number names no device.
    virtual QString deviceFor(int portNumber) = 0;
};
