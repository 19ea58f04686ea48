#pragma once
// The Mach-O reader: thin and fat Mach-O files, their slices, load commands and sections.
// ELF images are the ELF reader's (elf_reader.h); executable_reader.h serves both formats.
//
// Every walk over a mapped file is bounded by the mapping, and every load command is checked
// against the size of its structure before any of its fields is read. No function allocates
// or locks, except the file open/close calls.

#include <cstdint>
#include <optional>
#include <string>

#include "sdk/binary/executable_reader.h"
#include "sdk/binary/function_ref.h"

namespace telemetry {

// Load command kinds read here.
inline constexpr uint32_t kLoadCommandSegment = 0x01;
inline constexpr uint32_t kLoadCommandUUID = 0x1B;
inline constexpr uint32_t kLoadCommandSegment64 = 0x19;
inline constexpr uint32_t kLoadCommandEncryptionInfo = 0x21;
inline constexpr uint32_t kLoadCommandEncryptionInfo64 = 0x2C;
inline constexpr uint32_t kLoadCommandVersionMinMacOSX = 0x24;
inline constexpr uint32_t kLoadCommandVersionMinIPhoneOS = 0x25;
inline constexpr uint32_t kLoadCommandVersionMinTvOS = 0x2F;
inline constexpr uint32_t kLoadCommandVersionMinWatchOS = 0x30;

inline constexpr int32_t kCPUArchABI64 = 0x01000000;
// Size of a slice mapped by a loader: its extent is not known, its headers are trusted.
inline constexpr uint64_t kLoadedImageSize = UINT64_MAX;

struct CRKMachOSlice {
  const void* header = nullptr;
  int32_t cputype = 0;
  int32_t cpusubtype = 0;
  // Bytes readable from the header on; kLoadedImageSize for an image a loader mapped.
  uint64_t size = 0;
  // True for an image a loader mapped (addresses, not file offsets, locate its parts).
  bool loaded = false;
};

using TELMachOFile = ExecutableFile;
using TELMachOVersion = ExecutableVersion;

struct TELMachOSection {
  uint64_t address = 0;  // not slid
  uint64_t size = 0;
  uint32_t offset = 0;   // within the file
};

struct TELMachOSegment {
  char name[16] = {};
  uint64_t address = 0;
  uint64_t size = 0;
};

using TELMachOSliceBlock = FunctionRef<void(const CRKMachOSlice& slice)>;
using TELMachOLoadCommandBlock = FunctionRef<void(uint32_t command, uint32_t size, const uint8_t* pointer)>;

// Files.
bool TELMachOOpenFile(TELMachOFile* file, const char* path);
bool TELMachOOpenExecutable(TELMachOFile* file);
void TELMachOCloseFile(TELMachOFile* file);

// A slice for a header a loader mapped; its CPU fields carry no meaning.
CRKMachOSlice TELMachOSliceWithHeader(const void* header);

// Slices. A file that is not fat is one slice; one that is not Mach-O at all has zero CPU
// fields and no load commands.
void TELMachOEnumerateSlicesOfFile(const TELMachOFile* file, TELMachOSliceBlock block);
void TELMachOEnumerateSlices(const void* pointer, uint64_t size, TELMachOSliceBlock block);
CRKMachOSlice TELMachOSliceForArchitecture(const TELMachOFile* file, const char* architectureName);
const char* TELMachOArchitectureName(const CRKMachOSlice* slice);
const char* TELMachOArchitectureNameForCPU(int32_t cputype, int32_t cpusubtype);
bool TELMachOSliceIs64Bit(const CRKMachOSlice* slice);

// Load commands. Each is whole inside the slice and at least 8 bytes long.
void TELMachOEnumerateLoadCommands(CRKMachOSlice* slice, TELMachOLoadCommandBlock block);
// Each accessor checks the command's kind and size and answers null/zero/false otherwise.
const uint8_t* TELMachOGetUUID(const uint8_t* command);
const char* TELMachOLoadCommandString(const uint8_t* command);
bool TELMachOIsEncrypted(const uint8_t* command);
TELMachOVersion TELMachOGetMinimumOSVersion(const uint8_t* command);
TELMachOVersion TELMachOGetSDKVersion(const uint8_t* command);
TELMachOSegment TELMachOGetSegment(const uint8_t* command);

// Sections.
bool TELMachOGetSection(const CRKMachOSlice* slice, const char* segmentName, const char* sectionName,
                        TELMachOSection* section);
bool TELMachOSectionPointer(const CRKMachOSlice* slice, const char* segmentName, const char* sectionName,
                            const void** pointer);

// Text.
// 32 lowercase hexadecimal characters and a terminator into `out` (33 bytes).
void TELMachOUUIDString(const uint8_t* uuid, char out[33]);
std::string TELMachOUUIDString(const uint8_t* uuid);
std::optional<std::string> TELMachOFormatVersion(const TELMachOVersion* version);
TELMachOVersion TELMachOVersionFromWord(uint32_t word);

}  // namespace telemetry
