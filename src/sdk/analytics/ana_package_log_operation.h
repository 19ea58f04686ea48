#pragma once
// Packages a compressed log as the upload body: a multipart body with one file part holding
// the whole ".gz", in "<boundary>.multipartmime" beside it. Written under a temporary name and
// renamed into place only when the part holds every byte of the ".gz" and the file is
// closed; a failed stage leaves its input and no output.

#include <atomic>
#include <string>

#include "sdk/core/operation.h"

namespace telemetry {

inline constexpr const char* kAnalyticsEventsContentType = "application/vnd.crashkit.mac.events";

class ANAPackageLogOperation final : public Operation {
 public:
  // The largest compressed log packaged; larger ones are left for the clean-up's bounds.
  static constexpr size_t kMaximumCompressedSize = 64u << 20;

  ANAPackageLogOperation(std::string compressedLogURL, std::string packagedLogURL, std::string multipartMimeBoundary);
  // The compressed file's folder + the boundary + ".multipartmime".
  static std::string multipartURLForCompressedURL(const std::string& compressedLogURL, const std::string& boundary);

  void main() override;
  // True when this operation wrote the package.
  bool success() const { return mSuccess.load(); }

  const std::string& compressedLogURL() const { return mCompressedLogURL; }
  const std::string& packagedLogURL() const { return mPackagedLogURL; }
  const std::string& multipartMimeBoundary() const { return mMultipartMimeBoundary; }

 private:
  bool packageInto(const std::string& temporaryPath);

  const std::string mCompressedLogURL;
  const std::string mPackagedLogURL;
  const std::string mMultipartMimeBoundary;
  std::atomic<bool> mSuccess{false};
};

}  // namespace telemetry
