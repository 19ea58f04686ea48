#include "sdk/binary/mach_o_reader.h"

#include <algorithm>
#include <cstring>

#include "sdk/binary/byte_reader.h"

namespace telemetry {

using binary::load32;
using binary::loadBigEndian32;
using binary::within;

namespace {

constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr uint32_t kFatCigam = 0xBEBAFECA;
constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kCigam32 = 0xCEFAEDFE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCigam64 = 0xCFFAEDFE;
constexpr uint64_t kHeaderSize32 = 28;
constexpr uint64_t kHeaderSize64 = 32;
constexpr uint64_t kFatEntrySize = 20;

bool isThinMagic(uint32_t m) { return m == kMagic32 || m == kCigam32 || m == kMagic64 || m == kCigam64; }
bool isSwapped(uint32_t m) { return m == kCigam32 || m == kCigam64; }

// CPU fields of a thin header, byte-swapped for the other byte order.
void thinCPU(const uint8_t* p, uint64_t size, int32_t* cputype, int32_t* cpusubtype) {
  *cputype = 0;
  *cpusubtype = 0;
  if (!within(size, 0, 12)) return;
  uint32_t magic = load32(p);
  if (!isThinMagic(magic)) return;
  uint32_t t = load32(p + 4), s = load32(p + 8);
  if (isSwapped(magic)) {
    t = __builtin_bswap32(t);
    s = __builtin_bswap32(s);
  }
  *cputype = static_cast<int32_t>(t);
  *cpusubtype = static_cast<int32_t>(s);
}

// The command area of a native-order thin header: [first, end) relative to the header.
bool commandArea(const CRKMachOSlice& slice, uint64_t* first, uint64_t* end, uint32_t* count, bool* is64) {
  const auto* p = static_cast<const uint8_t*>(slice.header);
  if (!within(slice.size, 0, 4)) return false;
  uint32_t magic = load32(p);
  if (magic != kMagic32 && magic != kMagic64) return false;
  *is64 = magic == kMagic64;
  *first = *is64 ? kHeaderSize64 : kHeaderSize32;
  if (!within(slice.size, 0, *first)) return false;
  *count = load32(p + 16);
  uint64_t sizeofcmds = load32(p + 20);
  *end = *first + sizeofcmds;
  if (*end > slice.size) *end = slice.size;  // a lying total is cut at the mapping's end
  return true;
}

// Walks the commands of a native-order Mach-O header, each one whole inside the area.
template <typename Fn>
void forEachCommand(const CRKMachOSlice& slice, Fn fn) {
  uint64_t offset = 0, end = 0;
  uint32_t count = 0;
  bool is64 = false;
  if (!commandArea(slice, &offset, &end, &count, &is64)) return;
  const auto* p = static_cast<const uint8_t*>(slice.header);
  for (uint32_t i = 0; i < count; ++i) {
    if (!within(end, offset, 8)) return;
    uint32_t cmd = load32(p + offset);
    uint32_t cmdsize = load32(p + offset + 4);
    if (cmdsize < 8 || !within(end, offset, cmdsize)) return;
    fn(cmd, cmdsize, p + offset, is64);
    offset += cmdsize;
  }
}

bool isMinimumVersionCommand(uint32_t cmd) {
  return cmd == kLoadCommandVersionMinMacOSX || cmd == kLoadCommandVersionMinIPhoneOS ||
         cmd == kLoadCommandVersionMinTvOS || cmd == kLoadCommandVersionMinWatchOS;
}

}  // namespace

// ---- files ----

bool TELMachOOpenFile(TELMachOFile* file, const char* path) { return openExecutableFile(file, path); }

bool TELMachOOpenExecutable(TELMachOFile* file) { return openRunningExecutable(file); }

void TELMachOCloseFile(TELMachOFile* file) { closeExecutableFile(file); }

// ---- slices ----

void TELMachOEnumerateSlicesOfFile(const TELMachOFile* file, TELMachOSliceBlock block) {
  if (!file || !file->mapping || file->size <= 0) return;
  TELMachOEnumerateSlices(file->mapping, static_cast<uint64_t>(file->size), block);
}

void TELMachOEnumerateSlices(const void* pointer, uint64_t size, TELMachOSliceBlock block) {
  const auto* p = static_cast<const uint8_t*>(pointer);
  if (!p || !within(size, 0, 4)) return;
  uint32_t magic = load32(p);
  if (magic == kFatMagic || magic == kFatCigam) {
    if (!within(size, 0, 8)) return;
    const uint64_t count = loadBigEndian32(p + 4);
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t entry = 8 + i * kFatEntrySize;
      if (!within(size, entry, kFatEntrySize)) return;  // entries past the end do not exist
      CRKMachOSlice slice;
      slice.cputype = static_cast<int32_t>(loadBigEndian32(p + entry));
      slice.cpusubtype = static_cast<int32_t>(loadBigEndian32(p + entry + 4));
      const uint64_t offset = loadBigEndian32(p + entry + 8);
      const uint64_t length = loadBigEndian32(p + entry + 12);
      if (offset >= size || length == 0) continue;  // an empty slice or one outside the file is refused
      slice.header = p + offset;
      slice.size = std::min(length, size - offset);
      block(slice);
    }
    return;
  }
  CRKMachOSlice slice;
  slice.header = p;
  slice.size = size;
  thinCPU(p, size, &slice.cputype, &slice.cpusubtype);
  block(slice);
}

CRKMachOSlice TELMachOSliceForArchitecture(const TELMachOFile* file, const char* architectureName) {
  CRKMachOSlice found;
  if (!architectureName) return found;
  TELMachOEnumerateSlicesOfFile(file, [&](const CRKMachOSlice& slice) {
    if (std::strcmp(TELMachOArchitectureName(&slice), architectureName) == 0) found = slice;
  });
  return found;
}

bool TELMachOSliceIs64Bit(const CRKMachOSlice* slice) { return slice && (slice->cputype & kCPUArchABI64) != 0; }

CRKMachOSlice TELMachOSliceWithHeader(const void* header) {
  CRKMachOSlice slice;
  slice.header = header;
  slice.size = header ? kLoadedImageSize : 0;
  slice.loaded = header != nullptr;
  return slice;
}

// ---- load commands ----

void TELMachOEnumerateLoadCommands(CRKMachOSlice* slice, TELMachOLoadCommandBlock block) {
  if (!slice || !slice->header) return;
  const auto* p = static_cast<const uint8_t*>(slice->header);
  if (!within(slice->size, 0, 4) || !isThinMagic(load32(p))) return;
  thinCPU(p, slice->size, &slice->cputype, &slice->cpusubtype);
  // Headers in the other byte order are named but not walked.
  forEachCommand(*slice, [&](uint32_t cmd, uint32_t size, const uint8_t* at, bool) { block(cmd, size, at); });
}

const uint8_t* TELMachOGetUUID(const uint8_t* command) {
  if (!command || load32(command) != kLoadCommandUUID || load32(command + 4) < 24) return nullptr;
  return command + 8;
}

const char* TELMachOLoadCommandString(const uint8_t* command) {
  if (!command) return nullptr;
  const uint32_t size = load32(command + 4);
  if (size < 12) return nullptr;
  const uint32_t offset = load32(command + 8);
  if (offset < 12 || offset >= size) return nullptr;
  const char* s = reinterpret_cast<const char*>(command + offset);
  if (strnlen(s, size - offset) == size - offset) return nullptr;  // not terminated inside
  return s;
}

bool TELMachOIsEncrypted(const uint8_t* command) {
  if (!command) return false;
  const uint32_t cmd = load32(command);
  if (cmd != kLoadCommandEncryptionInfo && cmd != kLoadCommandEncryptionInfo64) return false;
  if (load32(command + 4) < 20) return false;
  return load32(command + 16) != 0;
}

TELMachOVersion TELMachOVersionFromWord(uint32_t word) {
  return TELMachOVersion{word >> 16, (word >> 8) & 0xff, word & 0xff};
}

TELMachOVersion TELMachOGetMinimumOSVersion(const uint8_t* command) {
  if (!command || !isMinimumVersionCommand(load32(command)) || load32(command + 4) < 16) return {};
  return TELMachOVersionFromWord(load32(command + 8));
}

TELMachOVersion TELMachOGetSDKVersion(const uint8_t* command) {
  if (!command || !isMinimumVersionCommand(load32(command)) || load32(command + 4) < 16) return {};
  return TELMachOVersionFromWord(load32(command + 12));
}

TELMachOSegment TELMachOGetSegment(const uint8_t* command) {
  TELMachOSegment segment;
  if (!command) return segment;
  const uint32_t cmd = load32(command), size = load32(command + 4);
  if (cmd == kLoadCommandSegment && size >= 56) {
    std::memcpy(segment.name, command + 8, 16);
    segment.address = load32(command + 24);
    segment.size = load32(command + 28);
  } else if (cmd == kLoadCommandSegment64 && size >= 72) {
    std::memcpy(segment.name, command + 8, 16);
    segment.address = binary::load64(command + 24);
    segment.size = binary::load64(command + 32);
  }
  return segment;
}

// ---- sections ----

bool TELMachOGetSection(const CRKMachOSlice* slice, const char* segmentName, const char* sectionName,
                        TELMachOSection* section) {
  if (section) *section = TELMachOSection{};
  if (!slice || !section || !slice->header || !segmentName || !sectionName) return false;
  bool found = false;
  forEachCommand(*slice, [&](uint32_t cmd, uint32_t cmdsize, const uint8_t* at, bool is64) {
    if (found || cmd != (is64 ? kLoadCommandSegment64 : kLoadCommandSegment)) return;
    // The walk vouches for 8 bytes only: no field is read before the command is known to
    // hold the whole segment structure.
    const uint64_t headerSize = is64 ? 72 : 56, entrySize = is64 ? 80 : 68;
    if (cmdsize < headerSize) return;
    if (strncmp(reinterpret_cast<const char*>(at + 8), segmentName, 16) != 0) return;
    const uint32_t count = load32(at + (is64 ? 64 : 48));
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t entry = headerSize + i * entrySize;
      if (!within(cmdsize, entry, entrySize)) return;  // sections beyond the command do not exist
      const uint8_t* s = at + entry;
      if (strncmp(reinterpret_cast<const char*>(s), sectionName, 16) != 0) continue;
      if (is64) {
        section->address = binary::load64(s + 32);
        section->size = binary::load64(s + 40);
        section->offset = load32(s + 48);
      } else {
        section->address = load32(s + 32);
        section->size = load32(s + 36);
        section->offset = load32(s + 40);
      }
      found = true;
      return;
    }
  });
  return found;
}

bool TELMachOSectionPointer(const CRKMachOSlice* slice, const char* segmentName, const char* sectionName,
                            const void** pointer) {
  if (pointer) *pointer = nullptr;
  TELMachOSection section;
  if (!pointer || !TELMachOGetSection(slice, segmentName, sectionName, &section)) return false;
  // Contents outside the mapped slice are not handed out.
  if (!slice->loaded && !within(slice->size, section.offset, section.size)) return false;
  *pointer = static_cast<const uint8_t*>(slice->header) + section.offset;
  return true;
}

// ---- text ----

void TELMachOUUIDString(const uint8_t* uuid, char out[33]) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (!out) return;
  if (!uuid) {
    out[0] = '\0';
    return;
  }
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[uuid[i] >> 4];
    out[2 * i + 1] = kHex[uuid[i] & 0x0f];
  }
  out[32] = '\0';
}

std::string TELMachOUUIDString(const uint8_t* uuid) {
  char text[33];
  TELMachOUUIDString(uuid, text);
  return text;
}

std::optional<std::string> TELMachOFormatVersion(const TELMachOVersion* version) {
  if (!version) return std::nullopt;
  return std::to_string(version->major) + "." + std::to_string(version->minor) + "." + std::to_string(version->bugfix);
}

}  // namespace telemetry
