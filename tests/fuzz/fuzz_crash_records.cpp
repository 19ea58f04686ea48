// Record files read back at the next launch: any bytes on disk. Every line that parses and
// holds plain values must also survive being written and read again unchanged.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash/crk_file.h"
#include "crash/crk_file_reader.h"

namespace {

std::string scratchPath(const char* name) {
  static const std::string folder = [] {
    char templ[] = "/tmp/fuzz-crash-records-XXXXXX";
    const char* made = mkdtemp(templ);
    return std::string(made ? made : "/tmp");
  }();
  return folder + "/" + name;
}

bool plain(const nlohmann::json& value) {
  if (value.is_number_unsigned() || value.is_boolean() || value.is_null()) return true;
  return value.is_string() && value.get<std::string>().find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = scratchPath("input.crkrecord");
  FILE* f = std::fopen(input.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  auto sections = telemetry::CRKFileReadSections(input.c_str(), false);
  if (!sections) return 0;

  const std::string output = scratchPath("output.crkrecord");
  for (const auto& section : *sections) {
    if (!section.is_object() || section.size() != 1) continue;
    const std::string name = section.begin().key();
    const nlohmann::json& body = section.begin().value();
    if (!body.is_object() || name.find('\0') != std::string::npos) continue;
    bool allPlain = true;
    for (const auto& [key, value] : body.items()) allPlain = allPlain && plain(value) && key.find('\0') == std::string::npos;
    if (!allPlain) continue;
    unlink(output.c_str());
    telemetry::CRKFile file;
    if (!telemetry::CRKFileInitWithPath(&file, output.c_str(), true)) return 0;
    telemetry::CRKFileWriteSectionStart(&file, name.c_str());
    telemetry::CRKFileWriteHashStart(&file);
    for (const auto& [key, value] : body.items()) {
      if (value.is_string()) telemetry::CRKFileWriteHashEntryString(&file, key.c_str(), value.get<std::string>().c_str());
      if (value.is_number_unsigned()) telemetry::CRKFileWriteHashEntryUint64(&file, key.c_str(), value.get<uint64_t>());
      if (value.is_boolean()) telemetry::CRKFileWriteHashEntryBoolean(&file, key.c_str(), value.get<bool>());
      if (value.is_null()) telemetry::CRKFileWriteHashEntryString(&file, key.c_str(), nullptr);
    }
    telemetry::CRKFileWriteHashEnd(&file);
    telemetry::CRKFileWriteSectionEnd(&file);
    telemetry::CRKFileClose(&file);
    auto again = telemetry::CRKFileReadSections(output.c_str(), false);
    if (!again || again->size() != 1 || (*again)[0] != section) std::abort();
  }
  return 0;
}
