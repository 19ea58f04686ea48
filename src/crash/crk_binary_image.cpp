#include "crash/crk_binary_image.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "platform/core/dispatch.h"
#include "platform/core/launch_work.h"
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/mach_o_reader.h"

namespace telemetry {

namespace {

constexpr size_t kMaxSegments = 32;
constexpr size_t kMaxLinkMapEntries = 8192;  // a cycle in a corrupt map ends here

CRKBinaryImageStore* store() {
  CRKWritableState* w = CRKContextWritable();
  return w ? &w->binaryImages : nullptr;
}

uint64_t atomicLoad(const uint64_t* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }

// Stores a node; answers its index or -1.
int storeNode(bool loaded, const CRKBinaryImageDetails& d) {
  CRKBinaryImageStore* s = store();
  if (!s) {
    CRKLogWarn("Error: Writable context is NULL\n");
    return -1;
  }
  const uint64_t sought = loaded ? 0 : d.node.base;
  const uint64_t replacement = loaded ? d.node.base : 0;
  for (size_t i = 0; i < kCRKBinaryImageNodeCount; ++i) {
    CRKBinaryImageNode& n = s->nodes[i];
    if (atomicLoad(&n.base) != sought) continue;
    uint64_t expected = sought;
    if (__atomic_compare_exchange_n(&n.base, &expected, replacement, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
      if (loaded) {
        n.textSize = d.node.textSize;
        n.ehFrame = d.node.ehFrame;
        n.unwindInfo = d.node.unwindInfo;
        n.crashInfo = d.node.crashInfo;
        n.slide = d.node.slide;
        n.ehFrameEnd = d.node.ehFrameEnd;
        n.unwindInfoEnd = d.node.unwindInfoEnd;
        n.format = d.node.format;
        std::memcpy(n.uuid, d.uuid, sizeof d.uuid);
      } else {
        n.textSize = n.ehFrame = n.unwindInfo = n.crashInfo = n.slide = 0;
        n.ehFrameEnd = n.unwindInfoEnd = 0;
        n.format = 0;
        std::memset(n.uuid, 0, sizeof n.uuid);
      }
      return static_cast<int>(i);
    }
    if (!loaded) {
      CRKLogWarn("Error: Failed to swap during image unload\n");
      break;
    }
  }
  CRKLogWarn("Error: Unable to track a %s node %p\n", loaded ? "loaded" : "unloaded",
             reinterpret_cast<void*>(d.node.base));
  return -1;
}

// The header of an image from its dl_iterate_phdr record: where its first loadable
// segment's file start lies.
uint64_t headerOf(const dl_phdr_info* info) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD) return info->dlpi_addr + ph.p_vaddr - ph.p_offset;
  }
  return 0;
}

// The address of the main program's DT_DEBUG value, where the loader puts its r_debug.
uint64_t debugSlotOf(const dl_phdr_info* info) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_DYNAMIC) continue;
    auto* dyn = reinterpret_cast<ElfW(Dyn)*>(info->dlpi_addr + ph.p_vaddr);
    const size_t count = ph.p_memsz / sizeof(ElfW(Dyn));
    for (size_t k = 0; k < count && dyn[k].d_tag != DT_NULL; ++k) {
      if (dyn[k].d_tag == DT_DEBUG) return reinterpret_cast<uint64_t>(&dyn[k].d_un.d_ptr);
    }
  }
  return 0;
}

struct StartImage {
  CRKBinaryImageDetails details;
  std::string path;
};

std::string executablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void recordInto(CRKFile* file, bool loaded, const CRKBinaryImageDetails& d) {
  CRKFileWriteSectionStart(file, loaded ? "load" : "unload");
  CRKFileWriteHashStart(file);
  CRKFileWriteHashEntryString(file, "path", d.path);
  CRKFileWriteHashEntryString(file, "uuid", d.uuid);
  CRKFileWriteHashEntryUint64(file, "base", d.node.base);
  CRKFileWriteHashEntryUint64(file, "size", d.node.textSize);
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

}  // namespace

namespace {

// The end of the segment holding `address` (slid), or 0.
template <typename Segments>
uint64_t segmentEnd(const Segments& segments, size_t count, uint64_t slide, uint64_t address) {
  if (address == 0) return 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t start = segments[i].address + slide;
    if (address >= start && address - start < segments[i].size) return start + segments[i].size;
  }
  return 0;
}

struct SegmentExtent {
  uint64_t address = 0;
  uint64_t size = 0;
};

void fillFromElf(const void* header, uint64_t slide, CRKBinaryImageDetails* out) {
  TELElfImage image = TELElfImageWithHeader(header);
  uint8_t buildID[20] = {};
  if (TELElfGetBuildID(&image, buildID, sizeof buildID) > 0) CRKBytesToHexString(buildID, 16, out->uuid);
  if (auto minimum = TELElfGetMinimumLinuxVersion(&image)) {
    out->minimumVersion = (minimum->major << 16) | (minimum->minor << 8) | minimum->bugfix;
  }
  // "Text": from the image's start through its last executable segment.
  SegmentExtent segments[kMaxSegments];
  size_t count = 0;
  bool first = true;
  uint64_t imageStart = 0, textEnd = 0;
  TELElfEnumerateSegments(&image, [&](const TELElfSegment& segment) {
    if (first) {
      first = false;
      imageStart = segment.address - segment.fileOffset;
      textEnd = segment.address + segment.memorySize;
    }
    if (segment.executable && segment.address + segment.memorySize > textEnd) {
      textEnd = segment.address + segment.memorySize;
    }
    if (count < kMaxSegments) segments[count++] = {segment.address, segment.memorySize};
  });
  out->node.textSize = first ? 0 : textEnd - imageStart;
  out->node.format = kCRKImageELF;
  TELElfGetUnwindSections(&image, &out->node.ehFrame, &out->node.unwindInfo);
  out->node.ehFrameEnd = segmentEnd(segments, count, slide, out->node.ehFrame);
  out->node.unwindInfoEnd = segmentEnd(segments, count, slide, out->node.unwindInfo);
}

void fillFromMachO(const void* header, uint64_t slide, CRKBinaryImageDetails* out) {
  CRKMachOSlice slice = TELMachOSliceWithHeader(header);
  TELMachOSegment segments[kMaxSegments];
  size_t count = 0;
  TELMachOEnumerateLoadCommands(&slice, [&](uint32_t command, uint32_t, const uint8_t* pointer) {
    switch (command) {
      case kLoadCommandUUID:
        if (const uint8_t* uuid = TELMachOGetUUID(pointer)) TELMachOUUIDString(uuid, out->uuid);
        break;
      case kLoadCommandSegment:
      case kLoadCommandSegment64: {
        const TELMachOSegment segment = TELMachOGetSegment(pointer);
        if (std::strncmp(segment.name, "__TEXT", 16) == 0) out->node.textSize = segment.size;
        if (count < kMaxSegments) segments[count++] = segment;
        break;
      }
      case kLoadCommandEncryptionInfo:
      case kLoadCommandEncryptionInfo64:
        out->encrypted = TELMachOIsEncrypted(pointer);
        break;
      case kLoadCommandVersionMinMacOSX:
      case kLoadCommandVersionMinIPhoneOS:
      case kLoadCommandVersionMinTvOS:
      case kLoadCommandVersionMinWatchOS: {
        const TELMachOVersion minimum = TELMachOGetMinimumOSVersion(pointer);
        const TELMachOVersion sdk = TELMachOGetSDKVersion(pointer);
        out->minimumVersion = (minimum.major << 16) | (minimum.minor << 8) | minimum.bugfix;
        out->sdkVersion = (sdk.major << 16) | (sdk.minor << 8) | sdk.bugfix;
        break;
      }
      default:
        break;
    }
  });
  out->node.format = kCRKImageMachO;
  TELMachOSection section;
  if (TELMachOGetSection(&slice, "__TEXT", "__eh_frame", &section)) out->node.ehFrame = section.address + slide;
  if (TELMachOGetSection(&slice, "__TEXT", "__unwind_info", &section)) out->node.unwindInfo = section.address + slide;
  if (TELMachOGetSection(&slice, "__DATA", "__crash_info", &section)) out->node.crashInfo = section.address + slide;
  out->node.ehFrameEnd = segmentEnd(segments, count, slide, out->node.ehFrame);
  out->node.unwindInfoEnd = segmentEnd(segments, count, slide, out->node.unwindInfo);
}

}  // namespace

bool CRKBinaryImageFillDetails(const void* header, uint64_t slide, const char* path, CRKBinaryImageDetails* out) {
  if (!out || reinterpret_cast<uintptr_t>(header) < kCRKMinimumValidAddress) return false;
  *out = CRKBinaryImageDetails{};
  out->path = path;
  out->node.base = reinterpret_cast<uint64_t>(header);
  out->node.slide = slide;
  // Loaded images are trusted as far as their own headers say (the reader's rule).
  if (TELElfIsImage(header, kLoadedImageSize)) {
    fillFromElf(header, slide, out);
  } else {
    fillFromMachO(header, slide, out);
  }
  return true;
}

bool CRKBinaryImageStoreNode(bool loaded, const CRKBinaryImageDetails& details) {
  return storeNode(loaded, details) >= 0;
}

bool CRKBinaryImageOpenIfNeeded(bool* openedNow) {
  if (openedNow) *openedNow = false;
  CRKBinaryImageStore* s = store();
  CRKContext* c = CRKContextGet();
  if (!s || !c) return false;
  if (CRKFileIsOpen(&s->file)) return true;
  if (!CRKFileInitWithPath(&s->file, c->binaryImagesPath, /*bufferEnabled=*/false)) {
    CRKLogWarn("Error: unable to open binary image log file\n");
    return false;
  }
  if (openedNow) *openedNow = true;
  return true;
}

void CRKBinaryImageRecordSlice(bool loaded, const CRKBinaryImageDetails& details) {
  bool openedNow = false;
  if (!CRKBinaryImageOpenIfNeeded(&openedNow)) {
    CRKLogWarn("Error: unable to open binary image log file\n");
    return;
  }
  CRKBinaryImageStore* s = store();
  recordInto(&s->file, loaded, details);
  if (openedNow) CRKFileClose(&s->file);
}

namespace {

// The images loaded now, the main program first; the loader's lock is held during the walk.
std::vector<StartImage> loadedImages() {
  std::vector<StartImage> images;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* list = static_cast<std::vector<StartImage>*>(data);
        const bool mainProgram = list->empty();
        StartImage image;
        image.path = mainProgram ? executablePath() : std::string(info->dlpi_name ? info->dlpi_name : "");
        if (!CRKBinaryImageFillDetails(reinterpret_cast<const void*>(headerOf(info)), info->dlpi_addr, nullptr,
                                       &image.details))
          return 0;
        list->push_back(std::move(image));
        return 0;
      },
      &images);
  return images;
}

// Finds where the loader keeps its link map and the main program's path: all a crash needs to
// list the images itself.
void findDebugSlot(CRKBinaryImageStore* s) {
  s->mainProgramPath = CRKDupString(executablePath().c_str());
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        static_cast<CRKBinaryImageStore*>(data)->debugSlot = debugSlotOf(info);
        return 1;  // the main program comes first
      },
      s);
}

void resetRecord(const CRKContext* c) {
  if (c->binaryImagesPath && !CRKUnlinkIfExists(c->binaryImagesPath)) {
    CRKLogWarn("Unable to reset the binary image log file %s\n", CRKErrorText(errno));
  }
}

void storeAndRecord(CRKBinaryImageStore* s, const CRKContext* c, std::vector<StartImage>& images) {
  if (!CRKFileInitWithPath(&s->file, c->binaryImagesPath, /*bufferEnabled=*/false)) {
    CRKLogWarn("Error: Unable to open the binary image log file during init\n");
  }
  for (auto& image : images) {
    image.details.path = image.path.empty() ? nullptr : image.path.c_str();
    storeNode(true, image.details);
    CRKBinaryImageRecordSlice(true, image.details);
  }
  CRKFileClose(&s->file);
}

}  // namespace

void CRKBinaryImageInit() {
  CRKBinaryImageStore* s = store();
  CRKContext* c = CRKContextGet();
  if (!s || !c) return;
  findDebugSlot(s);
  resetRecord(c);
  platform::SerialQueue* queue = CRKBinaryImagesQueue();
  if (queue && platform::isLaunchWorkHeld()) {
    // Reading and recording every image takes milliseconds a launch does without: until the
    // launch is over, a crash finds the images in the loader's link map itself.
    platform::afterLaunch([queue, s, c] {
      queue->async([s, c] {
        std::vector<StartImage> images = loadedImages();
        storeAndRecord(s, c, images);
      });
    });
    return;
  }
  // Otherwise written before start-up returns, so a crash right after it can be symbolicated.
  std::vector<StartImage> images = loadedImages();
  auto work = [s, c, &images] { storeAndRecord(s, c, images); };
  if (queue) {
    queue->sync(work);
  } else {
    work();
  }
}

int CRKBinaryImageReconcile() {
  CRKBinaryImageStore* s = store();
  if (!s || s->debugSlot < kCRKMinimumValidAddress) return -1;
  uint64_t debugAddress = 0;
  r_debug debug{};
  if (!CRKReadMemory(reinterpret_cast<const void*>(s->debugSlot), &debugAddress, sizeof debugAddress) ||
      !CRKReadMemory(reinterpret_cast<const void*>(debugAddress), &debug, sizeof debug)) {
    return -1;
  }
  if (debug.r_state != r_debug::RT_CONSISTENT) return -1;

  uint64_t seen[kCRKBinaryImageNodeCount / 64] = {};
  int changes = 0;
  const link_map* entry = debug.r_map;
  for (size_t count = 0; entry && count < kMaxLinkMapEntries; ++count) {
    link_map map{};
    if (!CRKReadMemory(entry, &map, sizeof map)) return -1;
    entry = map.l_next;
    int index = -1;
    for (size_t i = 0; i < kCRKBinaryImageNodeCount; ++i) {
      if (atomicLoad(&s->nodes[i].base) != 0 && s->nodes[i].slide == map.l_addr) {
        index = static_cast<int>(i);
        break;
      }
    }
    if (index < 0 && map.l_addr >= kCRKMinimumValidAddress) {
      // A new image: its header must be readable before the reader walks it.
      ElfW(Ehdr) eh{};
      if (!CRKReadMemory(reinterpret_cast<const void*>(map.l_addr), &eh, sizeof eh) ||
          std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_phentsize != sizeof(ElfW(Phdr)) || eh.e_phnum == 0 ||
          eh.e_phnum > 64) {
        continue;
      }
      ElfW(Phdr) phdrs[64];
      if (!CRKReadMemory(reinterpret_cast<const void*>(map.l_addr + eh.e_phoff), phdrs, eh.e_phnum * sizeof(ElfW(Phdr))))
        continue;
      uint64_t header = 0;
      for (int k = 0; k < eh.e_phnum && !header; ++k)
        if (phdrs[k].p_type == PT_LOAD) header = map.l_addr + phdrs[k].p_vaddr - phdrs[k].p_offset;
      if (header != map.l_addr) continue;  // headers elsewhere are not walked blind
      const char* name = nullptr;
      if (map.l_name && !CRKReadString(map.l_name, &name, PATH_MAX)) name = nullptr;
      if (count == 0 && (!name || !*name)) name = s->mainProgramPath;
      CRKBinaryImageDetails details;
      if (!CRKBinaryImageFillDetails(reinterpret_cast<const void*>(header), map.l_addr, name, &details)) continue;
      index = storeNode(true, details);
      CRKBinaryImageRecordSlice(true, details);
      ++changes;
    }
    if (index >= 0) seen[index / 64] |= uint64_t{1} << (index % 64);
  }
  for (size_t i = 0; i < kCRKBinaryImageNodeCount; ++i) {
    if (seen[i / 64] & (uint64_t{1} << (i % 64))) continue;
    const CRKBinaryImageNode& n = s->nodes[i];
    if (atomicLoad(&n.base) == 0) continue;
    CRKBinaryImageDetails details;
    details.node = n;
    std::memcpy(details.uuid, n.uuid, sizeof details.uuid);
    if (storeNode(false, details) >= 0) {
      CRKBinaryImageRecordSlice(false, details);
      ++changes;
    }
  }
  return changes;
}

bool CRKBinaryImageSafeFindImageForAddress(uint64_t address, CRKBinaryImageNode* nodeOut) {
  if (!CRKContextIsInitialized() || !nodeOut || address == 0) return false;
  CRKBinaryImageStore* s = store();
  if (!s) return false;
  for (size_t i = 0; i < kCRKBinaryImageNodeCount; ++i) {
    const CRKBinaryImageNode& n = s->nodes[i];
    const uint64_t base = atomicLoad(&n.base);
    if (base == 0) continue;
    const uint64_t size = n.textSize;
    if (address >= base && address - base < size) {
      *nodeOut = n;
      nodeOut->base = base;
      nodeOut->textSize = size;
      return true;
    }
  }
  return false;
}

bool CRKBinaryImageHasUnwindInfo(const CRKBinaryImageNode* node) {
  return node && node->unwindInfo >= kCRKMinimumValidAddress;
}

bool CRKBinaryImageFindImageForUUID(const char* uuidString, CRKBinaryImageDetails* detailsOut) {
  if (!uuidString || !detailsOut) {
    CRKLogWarn("null input\n");
    return false;
  }
  struct Search {
    const char* uuid;
    CRKBinaryImageDetails* out;
    bool found = false;
  } search{uuidString, detailsOut};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        CRKBinaryImageDetails details;
        if (!CRKBinaryImageFillDetails(reinterpret_cast<const void*>(headerOf(info)), info->dlpi_addr, nullptr,
                                       &details))
          return 0;
        if (std::strncmp(details.uuid, s->uuid, 33) != 0) return 0;
        *s->out = details;
        s->found = true;
        return 1;
      },
      &search);
  return search.found;
}

bool CRKBinaryImageRecordMainExecutable(CRKFile* file) {
  if (!CRKFileIsOpen(file)) {
    CRKLogWarn("Error: file is invalid\n");
    return false;
  }
  TELElfImage image = TELElfExecutableImage();
  CRKBinaryImageDetails details;
  const bool filled = image.header && CRKBinaryImageFillDetails(image.header, 0, nullptr, &details);
  CRKFileWriteSectionStart(file, "executable");
  CRKFileWriteHashStart(file);
  if (filled) {
    CRKFileWriteHashEntryString(file, "architecture", TELElfArchitectureName(&image));
    CRKFileWriteHashEntryString(file, "uuid", details.uuid);
    CRKFileWriteHashEntryUint64(file, "base", details.node.base);
    CRKFileWriteHashEntryUint64(file, "size", details.node.textSize);
    CRKFileWriteHashEntryBoolean(file, "encrypted", details.encrypted);
    const TELMachOVersion minimum = TELMachOVersionFromWord(details.minimumVersion);
    const TELMachOVersion sdk = TELMachOVersionFromWord(details.sdkVersion);
    CRKFileWriteHashEntryNSString(file, "minimum_sdk_version", TELMachOFormatVersion(&minimum));
    CRKFileWriteHashEntryNSString(file, "built_sdk_version", TELMachOFormatVersion(&sdk));
  }
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
  return filled;
}

}  // namespace telemetry
