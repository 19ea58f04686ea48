#include "crash/crk_application.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>

#include "crash/crk_log.h"
#include "platform/core/dispatch.h"
#include "sdk/core/operation_queue.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/main_bundle.h"

extern char** environ;

namespace telemetry {

std::optional<std::string> CRKApplicationGetBundleIdentifier() { return TELApplicationEscapedBundleIdentifier(); }
std::optional<std::string> CRKApplicationGetBuildVersion() { return TELApplicationBuildVersion(); }
std::optional<std::string> CRKApplicationGetDisplayVersion() { return TELApplicationDisplayVersion(); }

std::optional<std::string> CRKApplicationGetName() {
  auto& bundle = MainBundle::shared();
  if (auto name = bundle.stringForInfoDictionaryKey("CFBundleDisplayName")) return name;
  if (auto name = bundle.stringForInfoDictionaryKey("CFBundleName")) return name;
  return CRKApplicationGetBuildVersion();
}

std::optional<std::string> CRKApplicationExtensionPointIdentifier() {
  const nlohmann::json extension = MainBundle::shared().objectForInfoDictionaryKey("NSExtension");
  if (extension.is_null()) return std::nullopt;
  if (!extension.is_object()) {
    CRKLogWarn("Error: NSExtension Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  auto it = extension.find("NSExtensionPointIdentifier");
  if (it == extension.end() || !it->is_string()) {
    CRKLogWarn("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  return it->get<std::string>();
}

bool CRKApplicationIsExtension() { return CRKApplicationExtensionPointIdentifier().has_value(); }

void CRKApplicationOpenURL(const std::string& url, CRKURLOpener* opener, std::function<void(bool)> completion) {
  if (opener) {
    opener->openURL(url, std::move(completion));
    return;
  }
  platform::globalQueue().async([url, completion = std::move(completion)] {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid = 0;
    bool ok = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) == 0;
    if (ok) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (completion) completion(ok);
  });
}

nlohmann::json CRKApplicationBeginActivity(uint64_t options, const std::string& reason) {
  return nlohmann::json{{"options", options}, {"reason", reason}};
}

void CRKApplicationEndActivity(const nlohmann::json& /*token*/) {}

void CRKApplicationPerformWithActivity(uint64_t options, const std::string& reason, const std::function<void()>& block) {
  const auto token = CRKApplicationBeginActivity(options, reason);
  if (block) block();
  CRKApplicationEndActivity(token);
}

std::string CRKGenerateUUIDString() { return TELGenerateUUIDString(); }

std::string CRKNormalizeUUIDString(const std::string& uuid) {
  std::string out;
  out.reserve(uuid.size());
  for (char c : uuid)
    if (c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string CRKGenerateNormalizedUUIDString() { return CRKNormalizeUUIDString(CRKGenerateUUIDString()); }
std::string CRKHexStringFromData(const std::vector<uint8_t>& data) { return TELHexStringFromData(data); }

std::string CRKSHA1HexString(const void* bytes, size_t length) {
  return TELSHA1HexStringFromBytes(bytes, static_cast<uint32_t>(length));
}

std::string CRKSHA1HexStringFromData(const std::vector<uint8_t>& data) { return TELSHA1HexStringFromData(data); }

void CRKDispatchAfter(platform::Queue& queue, float seconds, std::function<void()> block) {
  const auto nanos = static_cast<int64_t>(static_cast<double>(seconds) * 1e9);
  const auto millis = platform::Millis((std::max<int64_t>(nanos, 0) + 999999) / 1000000);
  queue.after(millis, std::move(block));
}

void CRKAddOperationAfterDelay(std::shared_ptr<OperationQueue> queue, float seconds, std::function<void()> block) {
  CRKDispatchAfter(platform::globalQueue(), seconds, [queue = std::move(queue), block = std::move(block)]() mutable {
    if (queue) queue->addOperationWithBlock(std::move(block));
  });
}

}  // namespace telemetry
