#pragma once

#include <cstdint>

// Error numbers of the serial-port object. 0 means no failure. The numbers 8002 and 8005 are
// the ones the opening pass classifies by; the others only need to be distinct and non-zero.
namespace PortError {
inline constexpr std::int32_t None = 0;
inline constexpr std::int32_t InvalidValue = 380;    // a port number or settings text refused
inline constexpr std::int32_t NoSuchPort = 8002;     // the port number names no device here
inline constexpr std::int32_t AlreadyOpen = 8005;    // open in this object or held elsewhere
inline constexpr std::int32_t OpenFailed = 8010;     // any other failure to open (permissions...)
inline constexpr std::int32_t SettingsFailed = 8015; // the device refused the line settings
inline constexpr std::int32_t NotOpen = 8018;        // a read or write on a closed port
inline constexpr std::int32_t OutputFull = 8019;     // too much output already pending
inline constexpr std::int32_t ReadFailed = 8020;
inline constexpr std::int32_t WriteFailed = 8021;
} // namespace PortError

// The program-wide last-error code of the continue-on-error procedures: a step that fails
// leaves its number here and the procedure goes on with its next step.
struct LastError {
    std::int32_t code = PortError::None;

    // Records the outcome of one step; a success leaves the code as it was.
    void record(std::int32_t result)
    {
        if (result != PortError::None)
            code = result;
    }
};
