#pragma once
// Facts about the process and the host that start-up records.

#include <cstddef>

#include "crash/crk_file.h"

namespace telemetry {

// True when a tracer (a debugger) is attached: a non-zero "TracerPid:" in
// /proc/self/status. No allocation.
bool CRKProcessDebuggerAttached();
// The same reading of a status text (tests feed their own).
bool CRKProcessStatusShowsTracer(const char* status, size_t length);

// The "host" section of the metadata record: model, machine (uname), cpu (/proc/cpuinfo),
// OS build and display versions, platform, locale. Ordinary code.
bool CRKHostWriteModelInfo(CRKFile* file);
// The processor's brand text from a cpuinfo text: the first "model name" value.
bool CRKHostCPUBrand(const char* cpuinfo, size_t length, char* out, size_t capacity);

}  // namespace telemetry
