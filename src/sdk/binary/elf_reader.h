#pragma once
// The ELF reader: the images Linux runs, read from a file mapping or where the loader mapped
// them in this process. It hands out what ELF states: the machine, the GNU build-id, the
// Linux ABI tag, loadable segments, sections by their ELF names and the unwind tables.
// executable_reader.h serves ELF and Mach-O alike.
//
// Every walk over a file mapping is bounded by the mapping; images the loader mapped are
// trusted as far as their own header counts. Images in the other byte order are recognised
// but not walked. No function allocates or locks, except those that ask the loader for its
// image list (TELElfExecutableImage, TELElfImagePathForImage).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sdk/binary/executable_reader.h"
#include "sdk/binary/function_ref.h"

namespace telemetry {

struct TELElfImage {
  const void* header = nullptr;
  // Bytes readable from the header on; UINT64_MAX for an image the loader mapped.
  uint64_t size = 0;
  // True for an image the loader mapped (addresses, not file offsets, locate its parts).
  bool loaded = false;
};

struct TELElfSection {
  uint64_t address = 0;  // not slid
  uint64_t size = 0;
  uint64_t offset = 0;   // within the file
};

// A loadable segment (PT_LOAD).
struct TELElfSegment {
  uint64_t address = 0;  // not slid
  uint64_t memorySize = 0;
  uint64_t fileOffset = 0;
  uint64_t fileSize = 0;
  bool readable = false;
  bool writable = false;
  bool executable = false;
};

bool TELElfIsImage(const void* pointer, uint64_t size);
// The image a file mapping holds; a null header when it holds none.
TELElfImage TELElfImageOfFile(const ExecutableFile* file);
TELElfImage TELElfImageInMemory(const void* pointer, uint64_t size);

// "x86_64", "i386", "arm64", "arm", "ppc64", "ppc", else "unknown".
const char* TELElfArchitectureName(const TELElfImage* image);
// The whole GNU build-id (usually 20 bytes); 0 when there is none. At most `capacity` bytes
// are copied.
size_t TELElfGetBuildID(const TELElfImage* image, uint8_t* out, size_t capacity);
// The minimum Linux version of the GNU ABI tag, when the image has one.
std::optional<ExecutableVersion> TELElfGetMinimumLinuxVersion(const TELElfImage* image);
void TELElfEnumerateSegments(const TELElfImage* image, FunctionRef<void(const TELElfSegment& segment)> block);
// File images only (the section table is not part of what the loader maps).
bool TELElfGetSection(const TELElfImage* image, const char* sectionName, TELElfSection* section);
// The section's contents inside the mapping; false when they lie outside it.
bool TELElfSectionPointer(const TELElfImage* image, const char* sectionName, const void** pointer);

// Loaded images.
// The main program as the loader mapped it.
TELElfImage TELElfExecutableImage();
TELElfImage TELElfImageWithHeader(const void* header);
// The file path of the loaded image that contains the image's header; nothing for a missing
// image, a null header or an address outside every image.
std::optional<std::string> TELElfImagePathForImage(const TELElfImage* image);
// Slid addresses of ".eh_frame" and ".eh_frame_hdr" of a loaded image; each output is filled
// only when given and found. False when the image is not a loaded one.
bool TELElfGetUnwindSections(const TELElfImage* image, uint64_t* ehFrame, uint64_t* ehFrameHeader);

}  // namespace telemetry
