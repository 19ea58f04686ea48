// The executable reader over any bytes: through its format-blind interface, and through the
// Mach-O reader (thin and fat images, every load command) and the ELF reader (notes, segments,
// sections). Every walk must stay inside the buffer (ASan watches), whatever the headers claim.
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/executable_reader.h"
#include "sdk/binary/mach_o_reader.h"

#include <vector>

namespace {

using namespace telemetry;

void walkMachOSlice(CRKMachOSlice slice) {
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

void walkElfImage(const void* data, uint64_t size) {
  const TELElfImage image = TELElfImageInMemory(data, size);
  (void)TELElfArchitectureName(&image);
  uint8_t buildID[64];
  (void)TELElfGetBuildID(&image, buildID, sizeof buildID);
  (void)TELElfGetMinimumLinuxVersion(&image);
  TELElfEnumerateSegments(&image, [](const TELElfSegment&) {});
  TELElfSection section;
  (void)TELElfGetSection(&image, ".eh_frame", &section);
  const void* pointer = nullptr;
  (void)TELElfSectionPointer(&image, ".text", &pointer);
  uint64_t ehFrame = 0, ehFrameHeader = 0;
  (void)TELElfGetUnwindSections(&image, &ehFrame, &ehFrameHeader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so any read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  ExecutableFile file;
  file.size = static_cast<int64_t>(bytes.size());
  file.mapping = bytes.data();
  enumerateExecutableImages(file, [](const ExecutableImageFacts&) {});
  switch (executableFormatOf(bytes.data(), bytes.size())) {
    case ExecutableFormat::MachO:
      TELMachOEnumerateSlices(bytes.data(), bytes.size(), [](const CRKMachOSlice& slice) { walkMachOSlice(slice); });
      break;
    case ExecutableFormat::ELF:
      walkElfImage(bytes.data(), bytes.size());
      break;
    case ExecutableFormat::Unknown:
      break;
  }
  return 0;
}
