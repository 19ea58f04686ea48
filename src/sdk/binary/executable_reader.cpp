#include "sdk/binary/executable_reader.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/core/regular_file.h"
#include "sdk/binary/byte_reader.h"
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/mach_o_reader.h"

namespace telemetry {

namespace {

bool isMachOMagic(uint32_t magic) {
  switch (magic) {
    case 0xCAFEBABE: case 0xBEBAFECA:  // fat
    case 0xFEEDFACE: case 0xCEFAEDFE: case 0xFEEDFACF: case 0xCFFAEDFE: return true;
    default: return false;
  }
}

void factsOfMachOSlice(CRKMachOSlice slice, FunctionRef<void(const ExecutableImageFacts&)> block) {
  ExecutableImageFacts facts;
  TELMachOEnumerateLoadCommands(&slice, [&](uint32_t command, uint32_t, const uint8_t* pointer) {
    if (command == kLoadCommandUUID) {
      if (const uint8_t* uuid = TELMachOGetUUID(pointer)) {
        std::array<uint8_t, 16> bytes;
        std::memcpy(bytes.data(), uuid, bytes.size());
        facts.uuid = bytes;
      }
    } else if (command == kLoadCommandVersionMinMacOSX || command == kLoadCommandVersionMinIPhoneOS) {
      facts.minimumOS = TELMachOGetMinimumOSVersion(pointer);
      facts.builtSDK = TELMachOGetSDKVersion(pointer);
    }
  });
  // The walk fills in the CPU fields of a thin file's slice.
  facts.architecture = TELMachOArchitectureName(&slice);
  block(facts);
}

void factsOfElfImage(const TELElfImage& image, FunctionRef<void(const ExecutableImageFacts&)> block) {
  ExecutableImageFacts facts;
  facts.architecture = TELElfArchitectureName(&image);
  std::array<uint8_t, 16> bytes{};
  if (TELElfGetBuildID(&image, bytes.data(), bytes.size()) > 0) facts.uuid = bytes;
  facts.minimumOS = TELElfGetMinimumLinuxVersion(&image);
  block(facts);
}

}  // namespace

ExecutableFormat executableFormatOf(const void* pointer, uint64_t size) {
  const auto* p = static_cast<const uint8_t*>(pointer);
  if (!p || !binary::within(size, 0, 4)) return ExecutableFormat::Unknown;
  if (isMachOMagic(binary::load32(p))) return ExecutableFormat::MachO;
  if (TELElfIsImage(p, size)) return ExecutableFormat::ELF;
  return ExecutableFormat::Unknown;
}

bool openExecutableFile(ExecutableFile* file, const char* path) {
  if (!file || !path) return false;
  *file = ExecutableFile{};
  // An image named in a crash record may be anything by now: only a regular file is opened.
  const int fd = platform::openRegularFile(path, /*maxBytes=*/-1);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 16) {
    ::close(fd);
    return false;
  }
  void* mapping = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  file->descriptor = fd;
  file->size = st.st_size;
  file->mapping = mapping;
  return true;
}

bool openRunningExecutable(ExecutableFile* file) {
  // The file the running program was loaded from, even when an update has since replaced
  // or removed the file at its path (that one would describe another build).
  if (openExecutableFile(file, "/proc/self/exe")) return true;
  TELElfImage executable = TELElfExecutableImage();
  auto path = TELElfImagePathForImage(&executable);
  return path && openExecutableFile(file, path->c_str());
}

void closeExecutableFile(ExecutableFile* file) {
  if (!file) return;
  if (file->mapping && file->size > 0) ::munmap(const_cast<void*>(file->mapping), static_cast<size_t>(file->size));
  if (file->descriptor >= 0) ::close(file->descriptor);
  *file = ExecutableFile{};
}

void enumerateExecutableImages(const ExecutableFile& file, FunctionRef<void(const ExecutableImageFacts&)> block) {
  if (!file.mapping || file.size <= 0) return;
  const auto size = static_cast<uint64_t>(file.size);
  switch (executableFormatOf(file.mapping, size)) {
    case ExecutableFormat::MachO:
      TELMachOEnumerateSlices(file.mapping, size, [&](const CRKMachOSlice& slice) { factsOfMachOSlice(slice, block); });
      break;
    case ExecutableFormat::ELF: factsOfElfImage(TELElfImageOfFile(&file), block); break;
    case ExecutableFormat::Unknown: break;
  }
}

}  // namespace telemetry
