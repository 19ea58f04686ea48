// A report's binary-image list and crash file, any bytes each (split at the first NUL):
// symbolication reads what it can and writes one output line or none.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crash/crk_file_reader.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_symbolication.h"

namespace {

const std::string& folder() {
  static const std::string made = [] {
    char templ[] = "/tmp/fuzz-crash-symbolication-XXXXXX";
    const char* path = mkdtemp(templ);
    return std::string(path ? path : "/tmp");
  }();
  return made;
}

void write(const std::string& path, const uint8_t* data, size_t size) {
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t imagesSize = split ? static_cast<size_t>(split - data) : size;
  write(folder() + "/binary_images.crkrecord", data, imagesSize);
  const size_t rest = split ? size - imagesSize - 1 : 0;
  write(folder() + "/signal.crkrecord", split ? split + 1 : data, rest);
  ::unlink((folder() + "/signal.crkrecord.symbolicated").c_str());
  auto report = telemetry::CRKInternalReport::reportWithPath(folder(), "fuzz");
  telemetry::CRKProcessReportOperation(report, std::make_shared<telemetry::CRKSymbolResolver>()).main();
  auto out = telemetry::CRKFileReadSections((folder() + "/signal.crkrecord.symbolicated").c_str(), false);
  if (out && (out->size() != 1 || !(*out)[0].contains("threads"))) std::abort();
  return 0;
}
