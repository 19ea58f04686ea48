#pragma once
// Small file questions the analytics operations share. A path stands for a file URL. Names
// in the events folder are untrusted: nothing here follows a name anywhere but into that
// folder, and nothing here removes anything.

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <sys/types.h>
#include <string>

namespace telemetry {

class ANAFileUtils {
 public:
  using Time = std::chrono::system_clock::time_point;

  // Every entry of the folder (hidden ones included, not recursive) as folder + "/" + name;
  // an empty set, with a line, when the folder cannot be read.
  static std::set<std::string> allFilesInDirectory(const std::string& directory);
  // The entries whose extension is exactly `extension` (case-sensitive).
  static std::set<std::string> filesWithExtension(const std::string& extension, const std::string& directory);
  // 0 when the file cannot be examined.
  static uint64_t fileSizeAtURL(const std::string& path);
  // Where the last whole line of an open log of `size` bytes ends: a writer killed in the
  // middle of a line leaves its start behind, which is no event. `size` when it cannot be read.
  static off_t wholeLinesLength(int fd, off_t size);
  // Stage files are written once, so their modification time is their creation time.
  static Time fileCreatedDateAtURL(const std::string& path, Time fallback);

  // Where a stage writes before its output is complete: another extension, so no reader
  // takes it for a stage file and the start-up clean-up sweeps what a killed stage left.
  static std::string temporaryPathFor(const std::string& path) { return path + "." + kTemporaryExtension; }
  static constexpr const char* kTemporaryExtension = "partial";
  // Runs `write` on the temporary path, then renames its output into place; on any failure
  // removes the temporary file. True when `path` now holds the complete output.
  static bool writeStageFile(const std::string& path,
                             const std::function<bool(const std::string& temporaryPath)>& write);

  // The text after the last "." of the last path component ("" for none or a leading dot).
  static std::string pathExtension(const std::string& path);
  // The last path component without its extension.
  static std::string baseName(const std::string& path);
  static std::string lastPathComponent(const std::string& path);
  static std::string deletingLastPathComponent(const std::string& path);
  // The path with its extension replaced (or added).
  static std::string replacingPathExtension(const std::string& path, const std::string& extension);
};

}  // namespace telemetry
