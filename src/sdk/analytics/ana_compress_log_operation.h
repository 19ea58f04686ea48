#pragma once
// Compresses a finished event log into one gzip stream beside it ("<base>.gz"). The output
// is written under a temporary name and renamed into place only once every byte is written
// and the file closed, so a ".gz" on disk is always whole; a failed stage leaves its input
// and no output. An existing ".gz" is never overwritten. The log is read in chunks, so its
// size is not bounded by memory.

#include <atomic>
#include <string>

#include "sdk/core/operation.h"

namespace telemetry {

class ANACompressLogOperation final : public Operation {
 public:
  static constexpr size_t kChunkSize = 64 * 1024;

  ANACompressLogOperation(std::string uncompressedLogURL, std::string compressedLogURL);
  // The log's path with its extension replaced by "gz".
  static std::string compressedURLForUncompressedURL(const std::string& path);

  void main() override;
  // True when this operation wrote the compressed file.
  bool success() const { return mSuccess.load(); }

  const std::string& uncompressedLogURL() const { return mUncompressedLogURL; }
  const std::string& compressedLogURL() const { return mCompressedLogURL; }

 private:
  bool compressInto(const std::string& temporaryPath);

  const std::string mUncompressedLogURL;
  const std::string mCompressedLogURL;
  std::atomic<bool> mSuccess{false};
};

}  // namespace telemetry
