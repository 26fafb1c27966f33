#pragma once

#include <QtGlobal>

// Figures of this process from the kernel.
namespace ProcessStats {

// Resident memory (VmRSS) in KiB; -1 if it cannot be read.
qint64 residentKiB();
// CPU time (user and system) of the whole process and of the calling thread.
qint64 processCpuNs();
qint64 threadCpuNs();

} // namespace ProcessStats
