#include "sdk/analytics/ana_cleanup_files_operation.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/core/file_io.h"

namespace telemetry {

ANACleanupFilesOperation::ANACleanupFilesOperation(std::string directoryUrl, size_t maximumPendingMulitpartFiles)
    : mDirectoryUrl(std::move(directoryUrl)), mMaximumPendingMultipartFiles(maximumPendingMulitpartFiles) {}

void ANACleanupFilesOperation::main() {
  std::map<std::string, std::string> logs, compressed, packages;  // base name -> path
  for (const auto& path : ANAFileUtils::allFilesInDirectory(mDirectoryUrl)) {
    const std::string extension = ANAFileUtils::pathExtension(path);
    const std::string base = ANAFileUtils::baseName(path);
    if (extension == "log")
      logs[base] = path;
    else if (extension == "gz")
      compressed[base] = path;
    else if (extension == "multipartmime")
      packages[base] = path;
    else
      fileio::removeItem(path);
  }

  for (const auto& [base, log] : logs) {
    auto it = compressed.find(base);
    if (it == compressed.end()) continue;
    std::string error;
    if (!fileio::removeItem(it->second, &error))
      ANALogger::sharedLogger().logWithLabel("CleanupOperation", "Failed to remove %s: %s", it->second.c_str(),
                                             error.c_str());
    compressed.erase(it);
  }

  // A compressed log is named like its package: both present means the package was written
  // and the run ended before the log could go. Packaging it again would send its events twice.
  for (auto it = compressed.begin(); it != compressed.end();) {
    if (!packages.count(it->first)) {
      ++it;
      continue;
    }
    std::string error;
    if (!fileio::removeItem(it->second, &error))
      ANALogger::sharedLogger().logWithLabel("CleanupOperation", "Failed to remove %s: %s", it->second.c_str(),
                                             error.c_str());
    it = compressed.erase(it);
  }

  std::vector<std::string> packagePaths;
  for (const auto& [base, path] : packages) packagePaths.push_back(path);
  packagePaths = URLsByRemovingOldFiles(packagePaths, mMaximumPendingMultipartFiles);

  if (!mSuccessBlock) return;
  const auto values = [](const std::map<std::string, std::string>& m) {
    std::set<std::string> s;
    for (const auto& [k, v] : m) s.insert(v);
    return s;
  };
  mSuccessBlock(values(logs), values(compressed), std::set<std::string>(packagePaths.begin(), packagePaths.end()));
}

std::vector<std::string> ANACleanupFilesOperation::URLsByRemovingOldFiles(const std::vector<std::string>& urls,
                                                                          size_t maximumFileCount) {
  if (urls.size() <= maximumFileCount) return urls;
  using Time = ANAFileUtils::Time;
  std::vector<std::pair<Time, std::string>> dated;
  for (const auto& url : urls) dated.emplace_back(ANAFileUtils::fileCreatedDateAtURL(url, Time::min()), url);
  std::stable_sort(dated.begin(), dated.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> kept;
  for (size_t i = 0; i < dated.size(); ++i) {
    if (i < maximumFileCount)
      kept.push_back(dated[i].second);
    else
      fileio::removeItem(dated[i].second);
  }
  return kept;
}

}  // namespace telemetry
