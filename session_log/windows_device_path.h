#pragma once

#include <QString>

// Windows opens a device, not a file, when the last part of a path is a device name, wherever
// the folder: "CON", "PRN", "AUX", "NUL", "COM1" to "COM9", "LPT1" to "LPT9" (also with the
// digits ¹ ² ³), "CONIN$" and "CONOUT$", in any case, with any extension, a colon or trailing
// spaces after the name. So does a path in the device namespaces ("\\.\", "\\?\", "\??\").
// A report written to "COM3.csv" would go to the controller on COM3.
//
// Returns the part of path that names the device (the last part, or the namespace prefix);
// empty when path names a file. Plain text rules, the same on every platform.
QString windowsDeviceIn(const QString& path);
