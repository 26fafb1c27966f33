#pragma once

#include "port_bank/lines/serial_line.h"

#include <memory>

// The serial device of this machine behind a path, through the line of this platform: each
// platform builds its own definition (posix_device_line.cpp on Unix).
std::unique_ptr<SerialLine> makeDeviceLine(const QString& path);
