#pragma once
// The kit's handle on one report folder of an earlier run: which files it holds, whether it
// records a crash, and what its metadata says. CRKReport is the read-and-annotate view of
// it that the application's delegate receives.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace telemetry {

class CRKInternalReport {
 public:
  // Nothing for an empty path. The identifier comes from the metadata's "identity" record,
  // else from the folder's name (a run that died before its metadata was complete).
  static std::shared_ptr<CRKInternalReport> reportWithPath(const std::string& path);
  static std::shared_ptr<CRKInternalReport> reportWithPath(const std::string& path,
                                                           const std::string& executionIdentifier);

  const std::string& path() const { return mPath; }
  const std::string& identifier() const { return mIdentifier; }
  std::string directoryName() const;
  std::string pathForContentFile(const std::string& name) const;
  std::string metadataPath() const { return pathForContentFile("metadata.crkrecord"); }
  std::string binaryImagePath() const { return pathForContentFile("binary_images.crkrecord"); }

  static const std::vector<std::string>& crashFilenames();
  bool isCrash() const;
  // Log lines and key-value files alone are not worth sending.
  bool needsToBeSubmitted() const;
  bool checkExistenceOfAtLeastOneFileInArray(const std::vector<std::string>& names) const;
  // Each crash file's path in crashFilenames() order, present or not.
  void enumerateSymbolicatableFilesInContent(const std::function<void(const std::string& path)>& block) const;

  static std::optional<std::vector<nlohmann::json>> readMetadataAtPath(const std::string& path);

  std::optional<std::string> APIKey() const;
  // Whole seconds since 1970.
  std::optional<uint64_t> dateCreated() const;
  std::optional<std::string> OSVersion() const;
  std::optional<std::string> OSBuildVersion() const;
  std::optional<std::string> bundleVersion() const;
  std::optional<std::string> bundleShortVersionString() const;

  CRKInternalReport(std::string path, std::string identifier);

 private:
  const std::vector<nlohmann::json>& metadataSections() const;
  std::optional<nlohmann::json> metadataValue(size_t section, const char* object, const char* key) const;

  std::string mPath;
  std::string mIdentifier;
  mutable std::once_flag mMetadataOnce;
  mutable std::vector<nlohmann::json> mMetadata;
};

// An earlier report as the delegate sees it. Values written here go into that report's own
// key-value files, with this report's own write counts.
class CRKReport {
 public:
  explicit CRKReport(std::shared_ptr<CRKInternalReport> internalReport);

  const std::string& identifier() const { return mInternal->identifier(); }
  std::optional<std::string> bundleVersion() const { return mInternal->bundleVersion(); }
  std::optional<std::string> bundleShortVersionString() const { return mInternal->bundleShortVersionString(); }
  std::optional<uint64_t> dateCreated() const { return mInternal->dateCreated(); }
  std::optional<uint64_t> crashedOnDate() const { return mInternal->dateCreated(); }
  std::optional<std::string> OSVersion() const { return mInternal->OSVersion(); }
  std::optional<std::string> OSBuildVersion() const { return mInternal->OSBuildVersion(); }
  bool isCrash() const { return mInternal->isCrash(); }
  const std::shared_ptr<CRKInternalReport>& internalReport() const { return mInternal; }

  void setObjectValue(const std::optional<std::string>& value, const std::string& key);
  void setUserIdentifier(const std::optional<std::string>& value);
  void setUserName(const std::optional<std::string>& value);
  void setUserEmail(const std::optional<std::string>& value);

 private:
  void record(bool internal, const std::string& key, const std::optional<std::string>& value);

  std::shared_ptr<CRKInternalReport> mInternal;
  uint32_t mInternalWriteCount = 0;
  uint32_t mUserWriteCount = 0;
  std::string mUserIncremental, mUserCompacted, mInternalIncremental, mInternalCompacted;
};

}  // namespace telemetry
