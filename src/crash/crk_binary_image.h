#pragma once
// The table of loaded images that crash-time code searches without locks, and the report's
// "binary_images.crkrecord" (one "load" or "unload" line per change) that symbolication
// reads at the next launch.
//
// The table is filled at start-up from dl_iterate_phdr. The loader announces no later
// loads or unloads, so CRKBinaryImageReconcile compares the table with the loader's link
// map (through the main program's DT_DEBUG entry, read only with checked reads, and only
// while the loader says the map is consistent): images that appeared are stored and logged
// as "load", images that vanished are freed and logged as "unload". The crash path calls
// it first; ordinary code may call it any time.
//
// Slots are claimed and freed by compare-and-swap on their base. A reader may see a base
// before the other fields; it takes the size it then reads as the extent.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "crash/crk_file.h"

namespace telemetry {

inline constexpr size_t kCRKBinaryImageNodeCount = 512;

enum CRKImageFormat : uint64_t { kCRKImageMachO = 0, kCRKImageELF = 1 };

struct CRKBinaryImageNode {
  uint64_t base = 0;  // header address; 0 = free
  uint64_t textSize = 0;
  uint64_t ehFrame = 0;
  uint64_t unwindInfo = 0;  // ".eh_frame_hdr" for ELF images
  uint64_t crashInfo = 0;
  uint64_t slide = 0;
  // Where the segments holding the two unwind tables end: no unwind read goes past them.
  uint64_t ehFrameEnd = 0;
  uint64_t unwindInfoEnd = 0;
  uint64_t format = kCRKImageMachO;
  char uuid[40] = {};  // 32 hex digits and a terminator: the "unload" line of a vanished image
};

struct CRKBinaryImageStore {
  CRKFile file;
  // Where the main program's DT_DEBUG entry keeps the loader's r_debug address (0: none).
  uint64_t debugSlot = 0;
  // The main program's path, which the link map leaves empty.
  const char* mainProgramPath = nullptr;
  CRKBinaryImageNode nodes[kCRKBinaryImageNodeCount];
};

struct CRKBinaryImageDetails {
  char uuid[33] = {};
  bool encrypted = false;
  uint32_t minimumVersion = 0;
  uint32_t sdkVersion = 0;
  const char* path = nullptr;  // not owned; may be null
  CRKBinaryImageNode node;
};

// Start-up: resets the log, stores every image the loader reports and writes their "load"
// lines before returning.
void CRKBinaryImageInit();
// Fills details from a loaded image's header and slide (no allocation, no lock).
bool CRKBinaryImageFillDetails(const void* header, uint64_t slide, const char* path, CRKBinaryImageDetails* out);
// Claims or frees a slot (lock-free); false when no slot changed.
bool CRKBinaryImageStoreNode(bool loaded, const CRKBinaryImageDetails& details);
// Writes one "load"/"unload" line, opening the log when it is not open.
void CRKBinaryImageRecordSlice(bool loaded, const CRKBinaryImageDetails& details);
// Brings the table in line with the loader's link map; answers the number of changes,
// or -1 when the map could not be read or was being changed.
int CRKBinaryImageReconcile();

bool CRKBinaryImageSafeFindImageForAddress(uint64_t address, CRKBinaryImageNode* nodeOut);
bool CRKBinaryImageHasUnwindInfo(const CRKBinaryImageNode* node);
bool CRKBinaryImageFindImageForUUID(const char* uuidString, CRKBinaryImageDetails* detailsOut);
bool CRKBinaryImageRecordMainExecutable(CRKFile* file);
bool CRKBinaryImageOpenIfNeeded(bool* openedNow);

}  // namespace telemetry
