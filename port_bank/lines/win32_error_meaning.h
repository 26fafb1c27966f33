#pragma once

#include "port_bank/lines/serial_line.h"

#include <QtGlobal>

// What a Win32 error code means to a COM port line. Plain numbers, so that the rules build and
// are tested on every platform; win32_device_line.cpp checks them against <windows.h>.
namespace Win32Error {
inline constexpr quint32 InvalidFunction = 1;
inline constexpr quint32 FileNotFound = 2;
inline constexpr quint32 PathNotFound = 3;
inline constexpr quint32 AccessDenied = 5;
inline constexpr quint32 InvalidHandle = 6;
inline constexpr quint32 NotReady = 21;
inline constexpr quint32 BadCommand = 22;
inline constexpr quint32 GenFailure = 31;
inline constexpr quint32 SharingViolation = 32;
inline constexpr quint32 DevNotExist = 55;
inline constexpr quint32 BrokenPipe = 109;
inline constexpr quint32 OperationAborted = 995;
inline constexpr quint32 DeviceNotConnected = 1167;
inline constexpr quint32 DeviceRemoved = 1617;
} // namespace Win32Error

// How a failed CreateFile of a COM port, or a failed first call on the port it opened, ends the
// opening: no such port when nothing serial answers to the name (a name that opens something
// else refuses the port calls as an invalid function; so does wine for a port whose device has
// gone), in use when another program holds it (a COM port opens for one handle only, so Windows
// refuses the second one with access denied), failed otherwise.
SerialLine::Opening openingForWin32Error(quint32 error);

// Whether a read or write that failed on an open COM port means the device went away (an
// adapter unplugged: its pending I/O is aborted and every call after fails) rather than a fault
// the operator should be told of.
bool win32ErrorMeansGone(quint32 error);
