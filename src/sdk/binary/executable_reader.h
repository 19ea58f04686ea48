#pragma once
// Reads executable images: Mach-O files (thin or fat) and the ELF images Linux runs, either
// mapped from a file or already loaded in the process. Nothing is ever written.
//
// Every walk over a mapped file is bounded by the mapping: a truncated or lying file yields
// fewer slices, commands or sections, never a read past its end. Images mapped by the
// loader are trusted as far as their own header counts.
//
// ELF images are presented through the same calls as Mach-O ones: one slice per file, the
// machine field as the CPU type (mapped to the Mach-O CPU type of that architecture), and a
// load-command walk that hands out commands made from the ELF headers:
//   - the GNU build-id note as a UUID command (its first 16 bytes);
//   - the GNU ABI-tag note (minimum Linux kernel) as a macOS minimum-version command;
//   - the loadable segments as segment commands: "__TEXT" from the image start through its
//     last executable segment, then "__DATA" (writable) or "__DATA_CONST" for the rest.
// Those commands live in a buffer that is valid only during the block's call. Sections are
// looked up by their ELF names; "__TEXT","__eh_frame" and "__TEXT","__unwind_info" find
// ".eh_frame" and ".eh_frame_hdr".
//
// No function allocates or locks, except those that ask the loader for its image list
// (TELMachOExecutableHeader, TELMachOImagePathForSlice) and the file open/close calls.

#include <cstdint>
#include <optional>
#include <string>

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
// Size of a slice that the loader mapped: its extent is not known, its headers are trusted.
inline constexpr uint64_t kLoadedImageSize = UINT64_MAX;

struct CRKMachOSlice {
  const void* header = nullptr;
  int32_t cputype = 0;
  int32_t cpusubtype = 0;
  // Bytes readable from the header on; kLoadedImageSize for an image the loader mapped.
  uint64_t size = 0;
  // True for an image the loader mapped (addresses, not file offsets, locate its parts).
  bool loaded = false;
};

struct TELMachOFile {
  int32_t descriptor = -1;
  int64_t size = 0;
  const void* mapping = nullptr;
};

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

struct TELMachOVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t bugfix = 0;
};

using TELMachOSliceBlock = FunctionRef<void(const CRKMachOSlice& slice)>;
using TELMachOLoadCommandBlock = FunctionRef<void(uint32_t command, uint32_t size, const uint8_t* pointer)>;

// Files.
bool TELMachOOpenFile(TELMachOFile* file, const char* path);
bool TELMachOOpenExecutable(TELMachOFile* file);
void TELMachOCloseFile(TELMachOFile* file);

// Loaded images.
CRKMachOSlice TELMachOExecutableHeader();
std::optional<std::string> TELMachOImagePathForSlice(const CRKMachOSlice* slice);
// A slice for a header the loader mapped; its CPU fields carry no meaning.
CRKMachOSlice TELMachOSliceWithHeader(const void* header);
// Slid addresses of the unwind sections of a loaded image; each output is filled only when
// given and found. False when the slice is not a loaded image.
bool TELMachOGetUnwindSections(const CRKMachOSlice* slice, uint64_t* ehFrame, uint64_t* unwindInfo);

// Slices.
void TELMachOEnumerateSlicesOfFile(const TELMachOFile* file, TELMachOSliceBlock block);
void TELMachOEnumerateSlices(const void* pointer, uint64_t size, TELMachOSliceBlock block);
CRKMachOSlice TELMachOSliceForArchitecture(const TELMachOFile* file, const char* architectureName);
const char* TELMachOArchitectureName(const CRKMachOSlice* slice);
const char* TELMachOArchitectureNameForCPU(int32_t cputype, int32_t cpusubtype);
bool TELMachOSliceIs64Bit(const CRKMachOSlice* slice);

// Load commands.
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

// The whole GNU build-id of an ELF slice (usually 20 bytes); 0 when it has none or the
// slice is not ELF. At most `capacity` bytes are copied.
size_t TELElfGetBuildID(const CRKMachOSlice* slice, uint8_t* out, size_t capacity);

}  // namespace telemetry
