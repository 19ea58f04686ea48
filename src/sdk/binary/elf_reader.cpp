#include "sdk/binary/elf_reader.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "sdk/binary/byte_reader.h"

namespace telemetry {

using binary::load;
using binary::within;

namespace {

constexpr uint32_t kMaxPhdrs = 0xfffe;  // 0xffff means "count stored elsewhere": refused

bool nativeByteOrder(const uint8_t* p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return p[EI_DATA] == ELFDATA2LSB;
#else
  return p[EI_DATA] == ELFDATA2MSB;
#endif
}

uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

struct Elf32 {
  using Ehdr = Elf32_Ehdr;
  using Phdr = Elf32_Phdr;
  using Shdr = Elf32_Shdr;
};
struct Elf64 {
  using Ehdr = Elf64_Ehdr;
  using Phdr = Elf64_Phdr;
  using Shdr = Elf64_Shdr;
};

// One image: a file mapping (offsets locate parts) or a loaded image (addresses do).
template <typename Class>
struct View {
  using Ehdr = typename Class::Ehdr;
  using Phdr = typename Class::Phdr;
  using Shdr = typename Class::Shdr;

  const uint8_t* base = nullptr;
  uint64_t size = 0;
  bool loaded = false;
  Ehdr eh{};
  uint64_t imageVaddr = 0;  // the virtual address the header is loaded at

  bool open(const TELElfImage& image) {
    base = static_cast<const uint8_t*>(image.header);
    size = image.size;
    loaded = image.loaded;
    if (!base || !within(size, 0, sizeof(Ehdr))) return false;
    eh = load<Ehdr>(base);
    if (!nativeByteOrder(base)) return false;  // never walked with unswapped counts
    if (eh.e_phnum > kMaxPhdrs) return false;
    if (eh.e_phnum && eh.e_phentsize != sizeof(Phdr)) return false;
    if (!within(size, eh.e_phoff, uint64_t{eh.e_phnum} * sizeof(Phdr))) return false;
    for (uint32_t i = 0; i < eh.e_phnum; ++i) {
      Phdr ph = phdr(i);
      if (ph.p_type == PT_LOAD) {
        imageVaddr = ph.p_vaddr - ph.p_offset;
        break;
      }
    }
    return true;
  }

  Phdr phdr(uint32_t i) const { return load<Phdr>(base + eh.e_phoff + uint64_t{i} * sizeof(Phdr)); }

  // The bytes of a segment's file contents, or null when they lie outside the view.
  const uint8_t* segmentBytes(const Phdr& ph, uint64_t* length) const {
    *length = ph.p_filesz;
    if (loaded) {
      if (ph.p_vaddr < imageVaddr) return nullptr;
      uint64_t offset = ph.p_vaddr - imageVaddr;
      if (!within(size, offset, ph.p_filesz)) return nullptr;
      return base + offset;
    }
    if (!within(size, ph.p_offset, ph.p_filesz)) return nullptr;
    return base + ph.p_offset;
  }

  // Calls fn(type, desc, descsz) for every "GNU" note; stops when fn answers true.
  template <typename Fn>
  bool forEachGNUNote(Fn fn) const {
    for (uint32_t i = 0; i < eh.e_phnum; ++i) {
      Phdr ph = phdr(i);
      if (ph.p_type != PT_NOTE) continue;
      uint64_t length = 0;
      const uint8_t* notes = segmentBytes(ph, &length);
      if (!notes) continue;
      const uint64_t align = ph.p_align == 8 ? 8 : 4;
      auto up = [align](uint64_t v) { return (v + align - 1) & ~(align - 1); };
      uint64_t off = 0;
      while (within(length, off, 12)) {
        uint32_t namesz = load<uint32_t>(notes + off);
        uint32_t descsz = load<uint32_t>(notes + off + 4);
        uint32_t type = load<uint32_t>(notes + off + 8);
        uint64_t nameOff = off + 12;
        uint64_t descOff = nameOff + up(namesz);
        if (!within(length, nameOff, namesz) || !within(length, descOff, descsz)) break;
        if (namesz == 4 && std::memcmp(notes + nameOff, "GNU", 4) == 0 && fn(type, notes + descOff, descsz))
          return true;
        off = descOff + up(descsz);
      }
    }
    return false;
  }

  // File images only: the section headers are not part of what the loader maps.
  bool section(const char* name, Shdr* out) const {
    if (loaded || eh.e_shnum == 0 || eh.e_shentsize != sizeof(Shdr)) return false;
    if (!within(size, eh.e_shoff, uint64_t{eh.e_shnum} * sizeof(Shdr))) return false;
    if (eh.e_shstrndx >= eh.e_shnum) return false;
    auto shdr = [&](uint32_t i) { return load<Shdr>(base + eh.e_shoff + uint64_t{i} * sizeof(Shdr)); };
    Shdr strtab = shdr(eh.e_shstrndx);
    if (strtab.sh_type == SHT_NOBITS || !within(size, strtab.sh_offset, strtab.sh_size)) return false;
    const char* names = reinterpret_cast<const char*>(base + strtab.sh_offset);
    const size_t wanted = std::strlen(name);
    for (uint32_t i = 0; i < eh.e_shnum; ++i) {
      Shdr sh = shdr(i);
      if (sh.sh_name >= strtab.sh_size) continue;
      const size_t room = strtab.sh_size - sh.sh_name;
      if (strnlen(names + sh.sh_name, room) != wanted || wanted == room) continue;
      if (std::memcmp(names + sh.sh_name, name, wanted) != 0) continue;
      *out = sh;
      return true;
    }
    return false;
  }
};

template <typename Class>
void segmentsOf(const TELElfImage& image, FunctionRef<void(const TELElfSegment&)> block) {
  View<Class> v;
  if (!v.open(image)) return;
  for (uint32_t i = 0; i < v.eh.e_phnum; ++i) {
    auto ph = v.phdr(i);
    if (ph.p_type != PT_LOAD) continue;
    TELElfSegment segment;
    segment.address = ph.p_vaddr;
    segment.memorySize = ph.p_memsz;
    segment.fileOffset = ph.p_offset;
    segment.fileSize = ph.p_filesz;
    segment.readable = (ph.p_flags & PF_R) != 0;
    segment.writable = (ph.p_flags & PF_W) != 0;
    segment.executable = (ph.p_flags & PF_X) != 0;
    block(segment);
  }
}

template <typename Class>
std::optional<ExecutableVersion> minimumLinuxOf(const TELElfImage& image) {
  View<Class> v;
  if (!v.open(image)) return std::nullopt;
  std::optional<ExecutableVersion> version;
  v.forEachGNUNote([&](uint32_t type, const uint8_t* desc, uint32_t descsz) {
    if (type != NT_GNU_ABI_TAG || descsz < 16 || load<uint32_t>(desc) != ELF_NOTE_OS_LINUX) return false;
    version = ExecutableVersion{load<uint32_t>(desc + 4), load<uint32_t>(desc + 8), load<uint32_t>(desc + 12)};
    return true;
  });
  return version;
}

template <typename Class>
bool sectionOf(const TELElfImage& image, const char* name, TELElfSection* out) {
  View<Class> v;
  typename Class::Shdr sh{};
  if (!v.open(image) || !v.section(name, &sh)) return false;
  out->address = sh.sh_addr;
  out->size = sh.sh_type == SHT_NOBITS ? 0 : sh.sh_size;
  out->offset = sh.sh_offset;
  return true;
}

template <typename Class>
size_t buildIDOf(const TELElfImage& image, uint8_t* out, size_t capacity) {
  View<Class> v;
  if (!v.open(image)) return 0;
  size_t length = 0;
  v.forEachGNUNote([&](uint32_t type, const uint8_t* desc, uint32_t descsz) {
    if (type != NT_GNU_BUILD_ID || descsz == 0) return false;
    length = std::min<size_t>(descsz, capacity);
    if (out) std::memcpy(out, desc, length);
    return true;
  });
  return length;
}

// Reads one pointer encoded the way .eh_frame_hdr encodes them (DW_EH_PE_*).
bool readEncoded(const uint8_t* p, const uint8_t* end, uint8_t encoding, uint64_t dataBase, uint64_t* out) {
  if (encoding == 0xff) return false;
  uint64_t value = 0;
  const uint8_t* at = p;
  auto need = [&](size_t n) { return static_cast<size_t>(end - at) >= n; };
  switch (encoding & 0x0f) {
    case 0x00:  // pointer-sized
      if (!need(sizeof(void*))) return false;
      value = sizeof(void*) == 8 ? load<uint64_t>(at) : load<uint32_t>(at);
      break;
    case 0x03:
      if (!need(4)) return false;
      value = load<uint32_t>(at);
      break;
    case 0x0b:
      if (!need(4)) return false;
      value = static_cast<uint64_t>(static_cast<int64_t>(load<int32_t>(at)));
      break;
    case 0x04:
    case 0x0c:
      if (!need(8)) return false;
      value = load<uint64_t>(at);
      break;
    default:
      return false;
  }
  switch (encoding & 0x70) {
    case 0x00:
      break;
    case 0x10:  // relative to the field itself
      value += reinterpret_cast<uintptr_t>(at);
      break;
    case 0x30:  // relative to the start of .eh_frame_hdr
      value += dataBase;
      break;
    default:
      return false;
  }
  *out = value;
  return true;
}

template <typename Class>
bool unwindOf(const TELElfImage& image, uint64_t* ehFrame, uint64_t* ehFrameHeader) {
  View<Class> v;
  if (!v.open(image)) return false;
  for (uint32_t i = 0; i < v.eh.e_phnum; ++i) {
    auto ph = v.phdr(i);
    if (ph.p_type != PT_GNU_EH_FRAME) continue;
    uint64_t length = 0;
    const uint8_t* hdr = v.segmentBytes(ph, &length);
    if (!hdr) return true;
    if (ehFrameHeader) *ehFrameHeader = reinterpret_cast<uintptr_t>(hdr);
    // version, eh_frame_ptr encoding, fde count encoding, table encoding, eh_frame_ptr
    if (ehFrame && length >= 4 && hdr[0] == 1) {
      uint64_t address = 0;
      if (readEncoded(hdr + 4, hdr + length, hdr[1], reinterpret_cast<uintptr_t>(hdr), &address)) *ehFrame = address;
    }
    return true;
  }
  return true;
}

bool isImage(const uint8_t* p, uint64_t size) {
  return p && size >= EI_NIDENT && std::memcmp(p, ELFMAG, SELFMAG) == 0 &&
         (p[EI_CLASS] == ELFCLASS32 || p[EI_CLASS] == ELFCLASS64);
}

bool is64(const TELElfImage& image) { return static_cast<const uint8_t*>(image.header)[EI_CLASS] == ELFCLASS64; }

bool usable(const TELElfImage* image) {
  return image && isImage(static_cast<const uint8_t*>(image->header), image->size);
}

}  // namespace

bool TELElfIsImage(const void* pointer, uint64_t size) { return isImage(static_cast<const uint8_t*>(pointer), size); }

TELElfImage TELElfImageInMemory(const void* pointer, uint64_t size) {
  if (!TELElfIsImage(pointer, size)) return TELElfImage{};
  return TELElfImage{pointer, size, false};
}

TELElfImage TELElfImageOfFile(const ExecutableFile* file) {
  if (!file || !file->mapping || file->size <= 0) return TELElfImage{};
  return TELElfImageInMemory(file->mapping, static_cast<uint64_t>(file->size));
}

const char* TELElfArchitectureName(const TELElfImage* image) {
  if (!usable(image) || !within(image->size, 0, 20)) return "unknown";
  const auto* p = static_cast<const uint8_t*>(image->header);
  uint16_t machine = load<uint16_t>(p + 18);  // e_machine, same place in both classes
  if (!nativeByteOrder(p)) machine = swap16(machine);
  switch (machine) {
    case EM_386: return "i386";
    case EM_X86_64: return "x86_64";
    case EM_ARM: return "arm";
    case EM_AARCH64: return "arm64";
    case EM_PPC: return "ppc";
    case EM_PPC64: return "ppc64";
    default: return "unknown";
  }
}

size_t TELElfGetBuildID(const TELElfImage* image, uint8_t* out, size_t capacity) {
  if (!usable(image)) return 0;
  return is64(*image) ? buildIDOf<Elf64>(*image, out, capacity) : buildIDOf<Elf32>(*image, out, capacity);
}

std::optional<ExecutableVersion> TELElfGetMinimumLinuxVersion(const TELElfImage* image) {
  if (!usable(image)) return std::nullopt;
  return is64(*image) ? minimumLinuxOf<Elf64>(*image) : minimumLinuxOf<Elf32>(*image);
}

void TELElfEnumerateSegments(const TELElfImage* image, FunctionRef<void(const TELElfSegment&)> block) {
  if (!usable(image)) return;
  if (is64(*image))
    segmentsOf<Elf64>(*image, block);
  else
    segmentsOf<Elf32>(*image, block);
}

bool TELElfGetSection(const TELElfImage* image, const char* sectionName, TELElfSection* section) {
  if (section) *section = TELElfSection{};
  if (!usable(image) || !sectionName || !section) return false;
  return is64(*image) ? sectionOf<Elf64>(*image, sectionName, section) : sectionOf<Elf32>(*image, sectionName, section);
}

bool TELElfSectionPointer(const TELElfImage* image, const char* sectionName, const void** pointer) {
  if (pointer) *pointer = nullptr;
  TELElfSection section;
  if (!pointer || !TELElfGetSection(image, sectionName, &section)) return false;
  if (!within(image->size, section.offset, section.size)) return false;
  *pointer = static_cast<const uint8_t*>(image->header) + section.offset;
  return true;
}

bool TELElfGetUnwindSections(const TELElfImage* image, uint64_t* ehFrame, uint64_t* ehFrameHeader) {
  if (!image || !image->loaded || !usable(image)) return false;
  return is64(*image) ? unwindOf<Elf64>(*image, ehFrame, ehFrameHeader)
                      : unwindOf<Elf32>(*image, ehFrame, ehFrameHeader);
}

}  // namespace telemetry
