#pragma once
// Builds the POST of one package to the events endpoint and hands it to the uploader; it
// finishes at once, without waiting for the transfer.

#include <memory>
#include <string>

#include "sdk/core/operation.h"
#include "sdk/net/url_request.h"

namespace telemetry {

class ANAUploader;

inline constexpr const char* kAnalyticsUserAgent = "Analytics Mac SDK/1.3.2";

class ANAUploadOperation final : public Operation {
 public:
  ANAUploadOperation(std::shared_ptr<ANAUploader> uploader, std::string analyticsURL, std::string apiKey,
                     std::string multipartURL, std::string multipartMimeBoundary);

  void main() override;
  // The request main() sends; the body is the package file, streamed by the session.
  URLRequest makeRequest() const;
  // The package's file name without its extension.
  static std::string uniqueNameForMultipartURL(const std::string& multipartURL);

  const std::string& analyticsURL() const { return mAnalyticsURL; }
  const std::string& multipartURL() const { return mMultipartURL; }

 private:
  const std::shared_ptr<ANAUploader> mUploader;
  const std::string mAnalyticsURL;
  const std::string mAPIKey;
  const std::string mMultipartURL;
  const std::string mMultipartMimeBoundary;
};

}  // namespace telemetry
