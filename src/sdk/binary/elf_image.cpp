#include "sdk/binary/elf_image.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "sdk/binary/byte_reader.h"

namespace telemetry::elf {

using binary::load;
using binary::store32;
using binary::store64;
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
  static constexpr bool k64 = false;
};
struct Elf64 {
  using Ehdr = Elf64_Ehdr;
  using Phdr = Elf64_Phdr;
  using Shdr = Elf64_Shdr;
  static constexpr bool k64 = true;
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

  bool open(const CRKMachOSlice& slice) {
    base = static_cast<const uint8_t*>(slice.header);
    size = slice.size;
    loaded = slice.loaded;
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
void walk(const CRKMachOSlice& slice, TELMachOLoadCommandBlock block) {
  View<Class> v;
  if (!v.open(slice)) return;
  using Phdr = typename Class::Phdr;

  // Segments: "__TEXT" covers the image start through its last executable segment.
  bool haveLoad = false;
  uint64_t textStart = 0, textEnd = 0, textFileStart = 0, textFileEnd = 0;
  for (uint32_t i = 0; i < v.eh.e_phnum; ++i) {
    Phdr ph = v.phdr(i);
    if (ph.p_type != PT_LOAD) continue;
    if (!haveLoad) {
      haveLoad = true;
      textStart = ph.p_vaddr;
      textEnd = ph.p_vaddr + ph.p_memsz;
      textFileStart = ph.p_offset;
      textFileEnd = ph.p_offset + ph.p_filesz;
    }
    if (ph.p_flags & PF_X) {
      textEnd = std::max<uint64_t>(textEnd, ph.p_vaddr + ph.p_memsz);
      textFileEnd = std::max<uint64_t>(textFileEnd, ph.p_offset + ph.p_filesz);
    }
  }
  auto emitSegment = [&](const char* name, uint64_t addr, uint64_t size, uint64_t fileOff, uint64_t fileSize,
                         uint32_t prot) {
    uint8_t cmd[72] = {};
    const uint32_t cmdsize = Class::k64 ? 72 : 56;
    store32(cmd, Class::k64 ? kLoadCommandSegment64 : kLoadCommandSegment);
    store32(cmd + 4, cmdsize);
    std::strncpy(reinterpret_cast<char*>(cmd + 8), name, 16);
    if constexpr (Class::k64) {
      store64(cmd + 24, addr);
      store64(cmd + 32, size);
      store64(cmd + 40, fileOff);
      store64(cmd + 48, fileSize);
      store32(cmd + 56, prot);
      store32(cmd + 60, prot);
    } else {
      store32(cmd + 24, static_cast<uint32_t>(addr));
      store32(cmd + 28, static_cast<uint32_t>(size));
      store32(cmd + 32, static_cast<uint32_t>(fileOff));
      store32(cmd + 36, static_cast<uint32_t>(fileSize));
      store32(cmd + 40, prot);
      store32(cmd + 44, prot);
    }
    block(Class::k64 ? kLoadCommandSegment64 : kLoadCommandSegment, cmdsize, cmd);
  };
  // Protection bits in the Mach-O order: read 1, write 2, execute 4.
  auto prot = [](uint32_t flags) {
    return ((flags & PF_R) ? 1u : 0u) | ((flags & PF_W) ? 2u : 0u) | ((flags & PF_X) ? 4u : 0u);
  };
  if (haveLoad) {
    emitSegment("__TEXT", textStart, textEnd - textStart, textFileStart, textFileEnd - textFileStart, 5);
    for (uint32_t i = 0; i < v.eh.e_phnum; ++i) {
      Phdr ph = v.phdr(i);
      if (ph.p_type != PT_LOAD || ph.p_vaddr < textEnd) continue;
      emitSegment((ph.p_flags & PF_W) ? "__DATA" : "__DATA_CONST", ph.p_vaddr, ph.p_memsz, ph.p_offset,
                  ph.p_filesz, prot(ph.p_flags));
    }
  }

  v.forEachGNUNote([&](uint32_t type, const uint8_t* desc, uint32_t descsz) {
    if (type == NT_GNU_BUILD_ID && descsz > 0) {
      uint8_t cmd[24] = {};
      store32(cmd, kLoadCommandUUID);
      store32(cmd + 4, sizeof cmd);
      std::memcpy(cmd + 8, desc, std::min<uint32_t>(descsz, 16));
      block(kLoadCommandUUID, sizeof cmd, cmd);
    } else if (type == NT_GNU_ABI_TAG && descsz >= 16 && load<uint32_t>(desc) == ELF_NOTE_OS_LINUX) {
      uint32_t major = std::min(load<uint32_t>(desc + 4), 0xffffu);
      uint32_t minor = std::min(load<uint32_t>(desc + 8), 0xffu);
      uint32_t patch = std::min(load<uint32_t>(desc + 12), 0xffu);
      uint8_t cmd[16] = {};
      store32(cmd, kLoadCommandVersionMinMacOSX);
      store32(cmd + 4, sizeof cmd);
      store32(cmd + 8, (major << 16) | (minor << 8) | patch);
      block(kLoadCommandVersionMinMacOSX, sizeof cmd, cmd);
    }
    return false;
  });
}

// Mach-O section names of the unwind tables and their ELF counterparts.
const char* elfSectionName(const char* segmentName, const char* sectionName) {
  if (sectionName[0] == '.') return sectionName;
  struct Alias {
    const char* segment;
    const char* section;
    const char* elf;
  };
  static constexpr Alias kAliases[] = {
      {"__TEXT", "__eh_frame", ".eh_frame"},
      {"__TEXT", "__unwind_info", ".eh_frame_hdr"},
      {"__TEXT", "__text", ".text"},
  };
  for (const auto& a : kAliases)
    if (std::strcmp(a.segment, segmentName) == 0 && std::strcmp(a.section, sectionName) == 0) return a.elf;
  return nullptr;
}

template <typename Class>
bool sectionOf(const CRKMachOSlice& slice, const char* segmentName, const char* sectionName, TELMachOSection* out) {
  const char* name = elfSectionName(segmentName, sectionName);
  View<Class> v;
  typename Class::Shdr sh{};
  if (!name || !v.open(slice) || !v.section(name, &sh)) return false;
  if (sh.sh_offset > UINT32_MAX) return false;
  out->address = sh.sh_addr;
  out->size = sh.sh_size;
  out->offset = static_cast<uint32_t>(sh.sh_offset);
  return true;
}

template <typename Class>
size_t buildIDOf(const CRKMachOSlice& slice, uint8_t* out, size_t capacity) {
  View<Class> v;
  if (!v.open(slice)) return 0;
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
bool unwindOf(const CRKMachOSlice& slice, uint64_t* ehFrame, uint64_t* ehFrameHeader) {
  View<Class> v;
  if (!v.open(slice)) return false;
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

}  // namespace

bool isImage(const uint8_t* p, uint64_t size) {
  return p && size >= EI_NIDENT && std::memcmp(p, ELFMAG, SELFMAG) == 0 &&
         (p[EI_CLASS] == ELFCLASS32 || p[EI_CLASS] == ELFCLASS64);
}

void cpuType(const uint8_t* p, uint64_t size, int32_t* cputype, int32_t* cpusubtype) {
  *cputype = 0;
  *cpusubtype = 0;
  if (!isImage(p, size) || !within(size, 0, 20)) return;
  uint16_t machine = load<uint16_t>(p + 18);  // e_machine, same place in both classes
  if (!nativeByteOrder(p)) machine = swap16(machine);
  switch (machine) {
    case EM_386: *cputype = 7; *cpusubtype = 3; break;
    case EM_X86_64: *cputype = 7 | kCPUArchABI64; *cpusubtype = 3; break;
    case EM_ARM: *cputype = 12; break;
    case EM_AARCH64: *cputype = 12 | kCPUArchABI64; break;
    case EM_PPC: *cputype = 18; break;
    case EM_PPC64: *cputype = 18 | kCPUArchABI64; break;
    default: break;
  }
}

void enumerateLoadCommands(const CRKMachOSlice& slice, TELMachOLoadCommandBlock block) {
  const auto* p = static_cast<const uint8_t*>(slice.header);
  if (!isImage(p, slice.size)) return;
  if (p[EI_CLASS] == ELFCLASS64)
    walk<Elf64>(slice, block);
  else
    walk<Elf32>(slice, block);
}

bool getSection(const CRKMachOSlice& slice, const char* segmentName, const char* sectionName, TELMachOSection* out) {
  const auto* p = static_cast<const uint8_t*>(slice.header);
  if (!isImage(p, slice.size)) return false;
  return p[EI_CLASS] == ELFCLASS64 ? sectionOf<Elf64>(slice, segmentName, sectionName, out)
                                   : sectionOf<Elf32>(slice, segmentName, sectionName, out);
}

size_t buildID(const CRKMachOSlice& slice, uint8_t* out, size_t capacity) {
  const auto* p = static_cast<const uint8_t*>(slice.header);
  if (!isImage(p, slice.size)) return 0;
  return p[EI_CLASS] == ELFCLASS64 ? buildIDOf<Elf64>(slice, out, capacity) : buildIDOf<Elf32>(slice, out, capacity);
}

bool unwindSections(const CRKMachOSlice& slice, uint64_t* ehFrame, uint64_t* ehFrameHeader) {
  const auto* p = static_cast<const uint8_t*>(slice.header);
  if (!slice.loaded || !isImage(p, slice.size)) return false;
  return p[EI_CLASS] == ELFCLASS64 ? unwindOf<Elf64>(slice, ehFrame, ehFrameHeader)
                                   : unwindOf<Elf32>(slice, ehFrame, ehFrameHeader);
}

}  // namespace telemetry::elf
