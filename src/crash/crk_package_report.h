#pragma once
// Turns a symbolicated report folder into one multipart body on disk, the package the
// upload client sends: the API key, the report identifier, then every file of the folder
// gzip-compressed (a file that will not compress goes as plain text). The package is
// written under a hidden name, every write and the close checked, and renamed into the
// prepared folder only when whole, so a full disk never passes for a finished package.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

namespace telemetry {

class CRKFileManager;
class CRKInternalReport;
class TELMultipartMimeStreamEncoder;

class CRKPackageReportOperation {
 public:
  CRKPackageReportOperation(std::shared_ptr<CRKInternalReport> report, const CRKFileManager* fileManager);

  void main();
  // Polled between files.
  void cancel() { mCancelled = true; }
  bool isCancelled() const { return mCancelled; }
  // The package in the prepared folder once complete; nothing before, on cancellation and
  // on any failed write.
  const std::optional<std::string>& finalPath() const { return mFinalPath; }

  std::string reportPath() const;
  std::string destinationDirectory() const;
  std::string packagedPathWithName(const std::string& name) const;
  void encode(TELMultipartMimeStreamEncoder& encoder, const std::vector<uint8_t>& data, const std::string& path);
  static bool compressData(const std::vector<uint8_t>& data, const std::string& path);
  static bool writeBytesToGZFile(const void* bytes, size_t length, gzFile file);

 private:
  std::shared_ptr<CRKInternalReport> mReport;
  const CRKFileManager* mFileManager;
  std::optional<std::string> mFinalPath;
  std::atomic<bool> mCancelled{false};
};

}  // namespace telemetry
