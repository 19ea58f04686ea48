#pragma once
// Facts about the application and small helpers of the crash kit (ordinary code): bundle
// values, activity tokens, opening a URL, identifiers and digests, delayed work.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace platform {
class Queue;
}

namespace telemetry {

class OperationQueue;

std::optional<std::string> CRKApplicationGetBundleIdentifier();
std::optional<std::string> CRKApplicationGetBuildVersion();
std::optional<std::string> CRKApplicationGetDisplayVersion();
std::optional<std::string> CRKApplicationGetName();
// Applications here are never extensions: the property list's "NSExtension" entry is read
// only to report a malformed one.
std::optional<std::string> CRKApplicationExtensionPointIdentifier();
bool CRKApplicationIsExtension();

// Opens URLs for the crash kit; tests and hosts may hand in their own.
class CRKURLOpener {
 public:
  virtual ~CRKURLOpener() = default;
  virtual void openURL(const std::string& url, std::function<void(bool)> completion) = 0;
};
// Without an opener, runs "xdg-open <url>" off the calling thread; success is its exit
// status 0. The completion (may be empty) runs on a global queue.
void CRKApplicationOpenURL(const std::string& url, CRKURLOpener* opener, std::function<void(bool)> completion);

// Activities keep nothing alive here: the token is {"options", "reason"}.
inline constexpr uint64_t kCRKActivitySuddenTerminationDisabled = 0x4000;
inline constexpr uint64_t kCRKActivityAutomaticTerminationDisabled = 0x8000;
nlohmann::json CRKApplicationBeginActivity(uint64_t options, const std::string& reason);
void CRKApplicationEndActivity(const nlohmann::json& token);
void CRKApplicationPerformWithActivity(uint64_t options, const std::string& reason, const std::function<void()>& block);

std::string CRKGenerateUUIDString();
std::string CRKNormalizeUUIDString(const std::string& uuid);
std::string CRKGenerateNormalizedUUIDString();
std::string CRKHexStringFromData(const std::vector<uint8_t>& data);
std::string CRKSHA1HexString(const void* bytes, size_t length);
std::string CRKSHA1HexStringFromData(const std::vector<uint8_t>& data);

void CRKDispatchAfter(platform::Queue& queue, float seconds, std::function<void()> block);
void CRKAddOperationAfterDelay(std::shared_ptr<OperationQueue> queue, float seconds, std::function<void()> block);

}  // namespace telemetry
