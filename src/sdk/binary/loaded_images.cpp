// The images the loader has mapped into this process.

#include <link.h>
#include <unistd.h>

#include <climits>

#include "sdk/binary/elf_reader.h"

namespace telemetry {

namespace {

// The header address of a loaded image: where its first loadable segment's file start lies.
const void* imageHeader(const dl_phdr_info* info) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD) return reinterpret_cast<const void*>(info->dlpi_addr + ph.p_vaddr - ph.p_offset);
  }
  return nullptr;
}

bool containsAddress(const dl_phdr_info* info, uintptr_t address) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    const uintptr_t start = info->dlpi_addr + ph.p_vaddr - ph.p_offset;
    const uintptr_t end = info->dlpi_addr + ph.p_vaddr + ph.p_memsz;
    if (address >= start && address < end) return true;
  }
  return false;
}

std::optional<std::string> executablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

TELElfImage TELElfImageWithHeader(const void* header) {
  return header ? TELElfImage{header, UINT64_MAX, true} : TELElfImage{};
}

TELElfImage TELElfExecutableImage() {
  const void* header = nullptr;
  // The loader reports the main program first.
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        *static_cast<const void**>(data) = imageHeader(info);
        return 1;
      },
      &header);
  return TELElfImageWithHeader(header);
}

std::optional<std::string> TELElfImagePathForImage(const TELElfImage* image) {
  if (!image || !image->header) return std::nullopt;
  struct Search {
    uintptr_t address = 0;
    bool first = true;
    bool found = false;
    bool mainProgram = false;
    std::string path;
  } search;
  search.address = reinterpret_cast<uintptr_t>(image->header);
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        const bool isMain = s->first;
        s->first = false;
        if (!containsAddress(info, s->address)) return 0;
        s->found = true;
        s->mainProgram = isMain;
        s->path = info->dlpi_name ? info->dlpi_name : "";
        return 1;
      },
      &search);
  if (!search.found) return std::nullopt;
  // The loader names the main program by an empty string.
  if (search.mainProgram || search.path.empty()) return executablePath();
  return search.path;
}

}  // namespace telemetry
