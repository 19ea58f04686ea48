#pragma once
// The start-up sweep of the events folder: sorts its entries into logs, compressed logs and
// packages by extension, removes everything else (including what a killed stage left under
// a temporary name), removes a compressed file whose log still exists (the log is whole, the
// compression is redone), and keeps at most the newest `maximumPendingMultipartFiles`
// packages. It never removes a log. Reports what remains to its success block.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sdk/core/operation.h"

namespace telemetry {

class ANACleanupFilesOperation final : public Operation {
 public:
  using SuccessBlock = std::function<void(const std::set<std::string>& logs, const std::set<std::string>& compressed,
                                          const std::set<std::string>& packages)>;

  ANACleanupFilesOperation(std::string directoryUrl, size_t maximumPendingMulitpartFiles);

  // Set before the operation runs.
  void setSuccessBlock(SuccessBlock block) { mSuccessBlock = std::move(block); }

  void main() override;

  // The newest `maximumFileCount` files by creation date (unreadable dates count as the
  // distant past); the others are removed.
  static std::vector<std::string> URLsByRemovingOldFiles(const std::vector<std::string>& urls, size_t maximumFileCount);

  const std::string& directoryUrl() const { return mDirectoryUrl; }
  size_t maximumPendingMultipartFiles() const { return mMaximumPendingMultipartFiles; }

 private:
  const std::string mDirectoryUrl;
  const size_t mMaximumPendingMultipartFiles;
  SuccessBlock mSuccessBlock;
};

}  // namespace telemetry
