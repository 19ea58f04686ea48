// The executable reader over any bytes: Mach-O thin and fat images and ELF images. Every walk
// must stay inside the buffer (ASan watches), whatever the headers claim.
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/executable_reader.h"
#include "sdk/binary/mach_o_reader.h"

#include <cstring>
#include <vector>

namespace {

void walkSlice(telemetry::CRKMachOSlice slice) {
  using namespace telemetry;
  (void)TELMachOArchitectureName(&slice);
  (void)TELMachOSliceIs64Bit(&slice);
  TELMachOEnumerateLoadCommands(&slice, [](uint32_t command, uint32_t, const uint8_t* pointer) {
    switch (command) {
      case kLoadCommandUUID:
        (void)TELMachOUUIDString(TELMachOGetUUID(pointer));
        break;
      case kLoadCommandSegment:
      case kLoadCommandSegment64:
        (void)TELMachOGetSegment(pointer);
        break;
      case kLoadCommandEncryptionInfo:
      case kLoadCommandEncryptionInfo64:
        (void)TELMachOIsEncrypted(pointer);
        break;
      case kLoadCommandVersionMinMacOSX:
      case kLoadCommandVersionMinIPhoneOS:
      case kLoadCommandVersionMinTvOS:
      case kLoadCommandVersionMinWatchOS: {
        const TELMachOVersion minimum = TELMachOGetMinimumOSVersion(pointer);
        const TELMachOVersion sdk = TELMachOGetSDKVersion(pointer);
        (void)TELMachOFormatVersion(&minimum);
        (void)TELMachOFormatVersion(&sdk);
        break;
      }
      default:
        (void)TELMachOLoadCommandString(pointer);
    }
  });
  TELMachOSection section;
  (void)TELMachOGetSection(&slice, "__TEXT", "__text", &section);
  (void)TELMachOGetSection(&slice, "__TEXT", "__eh_frame", &section);
  const void* pointer = nullptr;
  (void)TELMachOSectionPointer(&slice, "__TEXT", "__unwind_info", &pointer);
}

void walkElf(const void* data, size_t size) {
  using namespace telemetry;
  TELElfImage image = TELElfImageInMemory(data, size);
  (void)TELElfArchitectureName(&image);
  uint8_t buildID[64];
  (void)TELElfGetBuildID(&image, buildID, sizeof buildID);
  (void)TELElfGetMinimumLinuxVersion(&image);
  TELElfEnumerateSegments(&image, [](const TELElfSegment&) {});
  TELElfSection section;
  (void)TELElfGetSection(&image, ".eh_frame", &section);
  const void* pointer = nullptr;
  (void)TELElfSectionPointer(&image, ".eh_frame_hdr", &pointer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so any read past the end is caught.
  std::vector<uint8_t> image(data, data + size);
  telemetry::TELMachOEnumerateSlices(image.data(), image.size(),
                                     [](const telemetry::CRKMachOSlice& slice) { walkSlice(slice); });
  walkElf(image.data(), image.size());
  // The format-neutral facts, through a file-like record over the same bytes.
  telemetry::ExecutableFile file;
  file.mapping = image.data();
  file.size = static_cast<int64_t>(image.size());
  telemetry::enumerateExecutableImages(file, [](const telemetry::ExecutableImageFacts&) {});
  return 0;
}
