#pragma once
// The crash data tree: <caches>/<SDK prefix>.data/<bundle id>/"v3" with the stage folders a
// report moves through ("active" → "pending" → "processing" → "prepared"), plus
// "quarantine" for packages the server keeps refusing. Every move and enumeration of it
// goes through CRKFileManager. No lock: callers use it from the controller's work queue
// and, at start, from the starting thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class CRKInternalReport;

class CRKFileManager {
 public:
  using FileBlock = std::function<void(const std::string& path, const std::string& extension)>;
  using ReportBlock = std::function<void(std::shared_ptr<CRKInternalReport> report, const std::string& path)>;

  // The root in the user's caches folder.
  CRKFileManager();
  // A tree at `rootPath` (tests, tools).
  explicit CRKFileManager(std::string rootPath);

  static std::string defaultRootPath();

  const std::string& rootPath() const { return mRootPath; }
  std::string structurePath() const;
  std::string launchMarkerPath() const;
  std::string activePath() const;
  std::string pendingPath() const;
  std::string processingPath() const;
  std::string preparedPath() const;
  std::string quarantinePath() const;
  std::vector<std::string> activePathContents() const { return contentsOfDirectory(activePath()); }
  std::vector<std::string> preparedPathContents() const { return contentsOfDirectory(preparedPath()); }
  std::vector<std::string> processingPathContents() const { return contentsOfDirectory(processingPath()); }

  // New folders are private to the user (0700): reports hold identities, logs and keys.
  bool createDirectoryAtPath(const std::string& path) const;
  bool removeItemAtPath(const std::string& path) const;
  // Every listed entry is attempted; true only when all went.
  bool removeContentsOfDirectoryAtPath(const std::string& path) const;
  bool moveItemAtPath(const std::string& path, const std::string& directory) const;
  // Stops at the first failure.
  bool moveItemsFromDirectory(const std::string& from, const std::string& to) const;
  // Entries of the folder (no recursion) in name order, names starting with "." skipped.
  void enumerateFilesInDirectory(const std::string& directory, const FileBlock& block) const;
  std::vector<std::string> contentsOfDirectory(const std::string& directory) const;
  std::optional<uint64_t> fileSizeAtPath(const std::string& path) const;

  // Creates "active", "processing" and "prepared", stopping at the first failure.
  bool prepareForNewLaunch() const;
  std::optional<std::string> setupNewPathForExecutionIdentifier(const std::string& identifier) const;
  void removeLegacyDirectories() const;

  void enumerateReportsInProcessingDirectory(const ReportBlock& block) const;
  void enumerateFilesInActiveDirectory(const FileBlock& block) const;
  void enumerateFilesInPreparedDirectory(const FileBlock& block) const;
  bool movePendingToProcessing() const;
  bool moveProcessingContentsToPrepared() const;
  bool removeContentsOfProcessingPath() const;
  bool removeContentsOfPendingPath() const;
  // Empties "processing", "pending", "prepared", "active" and "quarantine" (all attempted).
  bool removeContentsOfAllPaths() const;

  // A run holds an exclusive lock on a hidden file in its report folder for its whole life,
  // so another instance starting meanwhile leaves that folder alone. Answers the held
  // descriptor (-1 on failure); closing it releases the lock.
  static int lockReportFolder(const std::string& folder);
  // True while some open descriptor (this process's included) holds the folder's lock.
  static bool isReportFolderLive(const std::string& folder);

 private:
  std::string mRootPath;
};

}  // namespace telemetry
