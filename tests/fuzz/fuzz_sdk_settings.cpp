// The SDK's files on disk: the downloaded "settings.json" and "CRKUserDefaults.plist". Whatever
// they hold, reading never fails hard, and defaults that load save and load back the same.
#include "sdk/defaults/crk_user_defaults.h"
#include "sdk/settings/tel_settings.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string folder;

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/orrery-fuzz-settings-XXXXXX";
  if (!mkdtemp(name)) std::abort();
  folder = name;
  std::atexit([] { std::filesystem::remove_all(folder); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string settingsPath = folder + "/settings.json";
  writeFile(settingsPath, data, size);
  telemetry::TELSettings settings(settingsPath);
  (void)settings.appStatus();
  (void)settings.appNeedsOnboarding();
  (void)settings.appUpdateRequired();
  (void)settings.valueForKey("app", "status");
  std::remove(settingsPath.c_str());

  telemetry::CRKUserDefaults probe(folder, nullptr);
  writeFile(probe.fileURL(), data, size);
  telemetry::CRKUserDefaults loaded(folder, nullptr);
  const nlohmann::json values = loaded.dictionaryRepresentation();
  if (!loaded.synchronize()) std::abort();
  telemetry::CRKUserDefaults again(folder, nullptr);
  if (again.dictionaryRepresentation() != values) {
    std::fprintf(stderr, "round trip broken: saved defaults read back differently\n");
    std::abort();
  }
  std::remove(probe.fileURL().c_str());
  return 0;
}
