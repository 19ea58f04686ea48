#include "crash/crk_internal_report.h"

#include <sys/stat.h>

#include "crash/crk_context.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_user_logging.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/core/file_io.h"

namespace telemetry {

namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::optional<std::string> textOf(const std::optional<nlohmann::json>& value) {
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

}  // namespace

CRKInternalReport::CRKInternalReport(std::string path, std::string identifier)
    : mPath(std::move(path)), mIdentifier(std::move(identifier)) {}

std::shared_ptr<CRKInternalReport> CRKInternalReport::reportWithPath(const std::string& path) {
  if (path.empty()) return nullptr;
  std::string identifier;
  if (auto sections = readMetadataAtPath(paths::join(path, "metadata.crkrecord")); sections && !sections->empty()) {
    const auto& first = sections->front();
    if (first.is_object() && first.contains("identity") && first["identity"].is_object()) {
      if (auto id = textOf(first["identity"].value("session_id", nlohmann::json()))) identifier = *id;
    }
  }
  if (identifier.empty()) {
    // The run died before its identity was written; its folder carries the same identifier.
    identifier = fileio::lastPathComponent(path);
    CRKLogToConsole("[CrashKit:Crash] Unable to read identifier at path %s", path.c_str());
  }
  if (identifier.empty()) return nullptr;
  return std::make_shared<CRKInternalReport>(path, identifier);
}

std::shared_ptr<CRKInternalReport> CRKInternalReport::reportWithPath(const std::string& path,
                                                                     const std::string& executionIdentifier) {
  if (path.empty() || executionIdentifier.empty()) return nullptr;
  return std::make_shared<CRKInternalReport>(path, executionIdentifier);
}

std::string CRKInternalReport::directoryName() const { return fileio::lastPathComponent(mPath); }

std::string CRKInternalReport::pathForContentFile(const std::string& name) const { return paths::join(mPath, name); }

const std::vector<std::string>& CRKInternalReport::crashFilenames() {
  static const std::vector<std::string> names = {"exception.crkrecord", "mach_exception.crkrecord",
                                                 "signal.crkrecord"};
  return names;
}

bool CRKInternalReport::checkExistenceOfAtLeastOneFileInArray(const std::vector<std::string>& names) const {
  for (const auto& name : names)
    if (exists(pathForContentFile(name))) return true;
  return false;
}

bool CRKInternalReport::isCrash() const { return checkExistenceOfAtLeastOneFileInArray(crashFilenames()); }

bool CRKInternalReport::needsToBeSubmitted() const {
  static const std::vector<std::string> names = {
      "exception.crkrecord",         "signal.crkrecord",         "custom_exception_a.crkrecord",
      "custom_exception_b.crkrecord", "mach_exception.crkrecord", "errors_a.crkrecord",
      "errors_b.crkrecord"};
  return checkExistenceOfAtLeastOneFileInArray(names);
}

void CRKInternalReport::enumerateSymbolicatableFilesInContent(
    const std::function<void(const std::string& path)>& block) const {
  for (const auto& name : crashFilenames()) block(pathForContentFile(name));
}

std::optional<std::vector<nlohmann::json>> CRKInternalReport::readMetadataAtPath(const std::string& path) {
  auto sections = CRKFileReadSections(path.c_str(), false);
  if (!sections || sections->empty()) return std::nullopt;
  return sections;
}

const std::vector<nlohmann::json>& CRKInternalReport::metadataSections() const {
  std::call_once(mMetadataOnce, [this] {
    if (auto sections = readMetadataAtPath(metadataPath())) mMetadata = std::move(*sections);
  });
  return mMetadata;
}

std::optional<nlohmann::json> CRKInternalReport::metadataValue(size_t section, const char* object,
                                                               const char* key) const {
  const auto& sections = metadataSections();
  if (section >= sections.size() || !sections[section].is_object()) return std::nullopt;
  auto found = sections[section].find(object);
  if (found == sections[section].end() || !found->is_object()) return std::nullopt;
  auto value = found->find(key);
  if (value == found->end()) return std::nullopt;
  return *value;
}

std::optional<std::string> CRKInternalReport::APIKey() const { return textOf(metadataValue(0, "identity", "api_key")); }

std::optional<uint64_t> CRKInternalReport::dateCreated() const {
  auto value = metadataValue(0, "identity", "started_at");
  if (!value || !value->is_number_unsigned()) return std::nullopt;
  return value->get<uint64_t>();
}

std::optional<std::string> CRKInternalReport::OSVersion() const {
  return textOf(metadataValue(1, "host", "os_display_version"));
}
std::optional<std::string> CRKInternalReport::OSBuildVersion() const {
  return textOf(metadataValue(1, "host", "os_build_version"));
}
std::optional<std::string> CRKInternalReport::bundleVersion() const {
  return textOf(metadataValue(2, "application", "build_version"));
}
std::optional<std::string> CRKInternalReport::bundleShortVersionString() const {
  return textOf(metadataValue(2, "application", "display_version"));
}

CRKReport::CRKReport(std::shared_ptr<CRKInternalReport> internalReport)
    : mInternal(std::move(internalReport)),
      mUserIncremental(mInternal->pathForContentFile("user_incremental_kv.crkrecord")),
      mUserCompacted(mInternal->pathForContentFile("user_compacted_kv.crkrecord")),
      mInternalIncremental(mInternal->pathForContentFile("internal_incremental_kv.crkrecord")),
      mInternalCompacted(mInternal->pathForContentFile("internal_compacted_kv.crkrecord")) {}

void CRKReport::record(bool internal, const std::string& key, const std::optional<std::string>& value) {
  if (!CRKContextIsInitialized()) return;
  const CRKUserLoggingKVStorage* current = internal ? CRKUserLoggingInternalStore() : CRKUserLoggingUserStore();
  CRKUserLoggingKVStorage storage;
  storage.incrementalPath = internal ? mInternalIncremental.c_str() : mUserIncremental.c_str();
  storage.compactedPath = internal ? mInternalCompacted.c_str() : mUserCompacted.c_str();
  storage.compactionThreshold = current->compactionThreshold;
  storage.maxEntries = current->maxEntries;
  CRKUserLoggingRecordKeyValue(key.c_str(), value, &storage, internal ? &mInternalWriteCount : &mUserWriteCount);
}

void CRKReport::setObjectValue(const std::optional<std::string>& value, const std::string& key) {
  record(false, key, value);
}
void CRKReport::setUserIdentifier(const std::optional<std::string>& value) {
  record(true, std::string(kSDKIdentifierPrefix) + ".user-id", value);
}
void CRKReport::setUserName(const std::optional<std::string>& value) {
  record(true, std::string(kSDKIdentifierPrefix) + ".user-name", value);
}
void CRKReport::setUserEmail(const std::optional<std::string>& value) {
  record(true, std::string(kSDKIdentifierPrefix) + ".user-email", value);
}

}  // namespace telemetry
