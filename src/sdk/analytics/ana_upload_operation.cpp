#include "sdk/analytics/ana_upload_operation.h"

#include <ctime>

#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_uploader.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"

namespace telemetry {

ANAUploadOperation::ANAUploadOperation(std::shared_ptr<ANAUploader> uploader, std::string analyticsURL,
                                       std::string apiKey, std::string multipartURL, std::string multipartMimeBoundary)
    : mUploader(std::move(uploader)),
      mAnalyticsURL(std::move(analyticsURL)),
      mAPIKey(std::move(apiKey)),
      mMultipartURL(std::move(multipartURL)),
      mMultipartMimeBoundary(std::move(multipartMimeBoundary)) {}

std::string ANAUploadOperation::uniqueNameForMultipartURL(const std::string& multipartURL) {
  std::string name = multipartURL.substr(multipartURL.find_last_of('/') + 1);
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

URLRequest ANAUploadOperation::makeRequest() const {
  URLRequest request(mAnalyticsURL);
  request.setHTTPMethod("POST");
  request.setValue(TELMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(mMultipartMimeBoundary),
                   "Content-Type");
  request.setValue(std::to_string(ANAFileUtils::fileSizeAtURL(mMultipartURL)), "Content-Length");
  request.setValue(kAnalyticsUserAgent, "User-Agent");
  request.setValue(kDeveloperToken, "X-CRASHKIT-DEVELOPER-TOKEN");
  request.setValue("Analytics Mac SDK", "X-CRASHKIT-API-CLIENT-TYPE");
  request.setValue("18", "X-CRASHKIT-API-CLIENT-VERSION");
  request.setValue("1.3.2", "X-CRASHKIT-API-CLIENT-DISPLAY-VERSION");
  request.setValue("18", "X-CRASHKIT-API-CLIENT-BUILD-VERSION");
  request.setValue(mAPIKey, "X-CRASHKIT-API-KEY");
  request.setValue(std::to_string(static_cast<long long>(std::time(nullptr))),
                   "X-CrashKit-Api-Client-Packaged-Timestamp");
  return request;
}

void ANAUploadOperation::main() {
  // Without an endpoint there is nothing to send to: the package stays for a later launch.
  if (mAnalyticsURL.empty() || !mUploader) {
    ANALogger::sharedLogger().log("No events endpoint; keeping %s", mMultipartURL.c_str());
    return;
  }
  ANALogger::sharedLogger().log("Transmitting packaged events.");
  mUploader->startUploadRequest(makeRequest(), mMultipartURL, uniqueNameForMultipartURL(mMultipartURL));
}

}  // namespace telemetry
