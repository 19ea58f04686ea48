#pragma once
// The ELF side of the executable reader (see executable_reader.h for how ELF images are
// presented). Internal to the reader.

#include <cstdint>

#include "sdk/binary/executable_reader.h"

namespace telemetry::elf {

bool isImage(const uint8_t* p, uint64_t size);
// The Mach-O CPU type and subtype of the image's machine; zeros when it has none.
void cpuType(const uint8_t* p, uint64_t size, int32_t* cputype, int32_t* cpusubtype);
void enumerateLoadCommands(const CRKMachOSlice& slice, TELMachOLoadCommandBlock block);
bool getSection(const CRKMachOSlice& slice, const char* segmentName, const char* sectionName, TELMachOSection* out);
size_t buildID(const CRKMachOSlice& slice, uint8_t* out, size_t capacity);
bool unwindSections(const CRKMachOSlice& slice, uint64_t* ehFrame, uint64_t* ehFrameHeader);

}  // namespace telemetry::elf
