#pragma once
// Reads the executable images a program is made of, whatever their format. Two readers sit
// behind this interface: the Mach-O reader (mach_o_reader.h: thin and fat files, slices and
// load commands) and the ELF reader (elf_reader.h: the images Linux runs, their notes,
// segments and sections, and the images loaded in this process). Callers that need the facts
// of an executable without caring for its format use the calls here; the format decides which
// reader answers.
//
// Every walk over a mapped file is bounded by the mapping: a truncated or lying file yields
// fewer slices, commands or sections, never a read past its end.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sdk/binary/function_ref.h"

namespace telemetry {

// A whole file mapped read-only.
struct ExecutableFile {
  int32_t descriptor = -1;
  int64_t size = 0;
  const void* mapping = nullptr;
};

struct ExecutableVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t bugfix = 0;
};

enum class ExecutableFormat { Unknown, MachO, ELF };

// Recognised by the first bytes; fat and thin Mach-O files are both MachO.
ExecutableFormat executableFormatOf(const void* pointer, uint64_t size);

// Maps a regular file of at least 16 bytes. False (and the record empty) otherwise.
bool openExecutableFile(ExecutableFile* file, const char* path);
// The file the running program was loaded from, even when an update has since replaced or
// removed the file at its path.
bool openRunningExecutable(ExecutableFile* file);
void closeExecutableFile(ExecutableFile* file);

// What one image (a slice of a Mach-O file, an ELF file) says about itself.
struct ExecutableImageFacts {
  const char* architecture = "unknown";
  // The Mach-O UUID, or the first 16 bytes of an ELF GNU build-id.
  std::optional<std::array<uint8_t, 16>> uuid;
  // A Mach-O minimum-version command's OS version, or the Linux version of an ELF ABI tag.
  std::optional<ExecutableVersion> minimumOS;
  // A Mach-O minimum-version command's SDK version; ELF images state none.
  std::optional<ExecutableVersion> builtSDK;
};

// One call per image of the file, in file order.
void enumerateExecutableImages(const ExecutableFile& file, FunctionRef<void(const ExecutableImageFacts&)> block);

}  // namespace telemetry
