// The crash kit's settings: any downloaded dictionary and any prompt string table must give
// values, never an exception or a fault. Input: a JSON text, then optionally a line "---"
// and a string table.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/crk_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find("\n---\n");
  const std::string json = input.substr(0, split);
  const std::string table = split == std::string::npos ? std::string() : input.substr(split + 5);
  nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (parsed.is_discarded()) parsed = nullptr;
  telemetry::CRKSettings settings(std::make_shared<const nlohmann::json>(parsed));
  volatile uint64_t sink = 0;
  sink += settings.crashReportingEnabled() + settings.errorReportingEnabled() + settings.customExceptionsEnabled() +
          settings.userPromptEnabled() + settings.logBufferSize() + settings.errorLogBufferSize() +
          settings.maxCustomExceptions() + settings.maxCustomKeys();
  if (!settings.betaSuspendDuration().is_number()) std::abort();
  sink += settings.interactivePromptTitle().size() + settings.interactivePromptMessage().size() +
          settings.interactivePromptCancelTitle().size() + settings.interactivePromptSendTitle().size() +
          settings.interactivePromptAlwaysSendTitle().size();
  for (const auto& [key, value] : telemetry::CRKSettings::parseStringTable(table)) {
    if (key.empty() || key.find('\n') != std::string::npos || value.find('\n') != std::string::npos) std::abort();
    sink += value.size();
  }
  (void)sink;
  return 0;
}
