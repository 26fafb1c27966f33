#pragma once

#include "port_bank/lines/serial_settings.h"

// How an open COM port handle (a Win32 HANDLE) is set up for a line. Each returns false with the
// reason in GetLastError(); *call names the Win32 call that failed.

// The character format of the settings, raw bytes both ways, no flow control.
bool setUpCommPort(void* handle, const SerialSettings& settings, const char** call);

// Whether the port's driver says it has the character format of these settings.
bool commPortHas(void* handle, const SerialSettings& settings);

// Reads that end soon after the line pauses; writes that never time out.
bool setCommReadTimeouts(void* handle);
