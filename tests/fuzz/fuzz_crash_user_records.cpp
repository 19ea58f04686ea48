// Key-value records of the user log read back from disk: any bytes. The pairs read must
// survive being written as a snapshot and read again unchanged. Input: the snapshot, then
// optionally a line "---" and the incremental log.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash/crk_user_logging.h"

namespace {

std::string scratchPath(const char* name) {
  static const std::string folder = [] {
    char templ[] = "/tmp/fuzz-crash-user-records-XXXXXX";
    const char* made = mkdtemp(templ);
    return std::string(made ? made : "/tmp");
  }();
  return folder + "/" + name;
}

void writeFile(const std::string& path, const std::string& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find("\n---\n");
  const std::string compacted = scratchPath("compacted.crkrecord");
  const std::string incremental = scratchPath("incremental.crkrecord");
  writeFile(compacted, input.substr(0, split));
  if (split == std::string::npos)
    unlink(incremental.c_str());
  else
    writeFile(incremental, input.substr(split + 5));
  const auto pairs = telemetry::CRKUserLoggingReadKeyValueFiles(compacted.c_str(), incremental.c_str());
  for (const auto& [key, value] : pairs)
    if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos) return 0;
  const std::string snapshot = scratchPath("snapshot.crkrecord");
  if (!telemetry::CRKUserLoggingWriteSnapshot(snapshot.c_str(), pairs)) return 0;
  if (telemetry::CRKUserLoggingReadKeyValueFiles(snapshot.c_str(), nullptr) != pairs) std::abort();
  return 0;
}
