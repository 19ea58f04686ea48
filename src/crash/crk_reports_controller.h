#pragma once
// Takes one crash report from its folder to the service: moves it into "processing",
// symbolicates it, packages it into "prepared", removes the processed folder and hands the
// package to the upload client; a package the server took is deleted. Each stage leaves its
// result on disk, so an interrupted run resumes at the next launch. Runs on its caller's
// thread (the crash kit's work queue) and blocks it while it works.

#include <memory>
#include <optional>
#include <string>

#include "sdk/core/error.h"
#include "sdk/core/operation_queue.h"
#include "sdk/net/url_request.h"

namespace telemetry {

class CRKFileManager;
class CRKInternalReport;
class CRKNetworkClient;
class CRKReportsController;
class CRKSettings;

inline constexpr const char* kCRKClientDisplayVersion = "3.8.2";
inline constexpr const char* kCRKClientBuildVersion = "118";

class CRKReportsControllerDelegate {
 public:
  virtual ~CRKReportsControllerDelegate() = default;
  virtual void reportsControllerDidCompletePackageSubmission(CRKReportsController&, const std::string& path,
                                                             const OptionalError& error) = 0;
  virtual std::shared_ptr<CRKSettings> settingsForReportsController(CRKReportsController&) = 0;
  virtual std::optional<std::string> APIKeyForReportsController(CRKReportsController&) = 0;
  virtual std::optional<std::string> bundleIdentifierForReportsController(CRKReportsController&) = 0;
};

class CRKReportsController {
 public:
  CRKReportsController(std::shared_ptr<OperationQueue> queue, std::weak_ptr<CRKReportsControllerDelegate> delegate,
                       std::shared_ptr<CRKNetworkClient> client, std::shared_ptr<const CRKFileManager> fileManager);

  std::shared_ptr<CRKSettings> settings();
  std::optional<std::string> appBundleIdentifier();
  std::optional<std::string> APIKey();
  std::string reportEndpoint();
  std::optional<std::string> reportURL();
  bool submissionEnabled();
  bool packagingEnabled();
  static std::string localeIdentifier();

  URLRequest mutableRequestWithURL(const std::string& url, double timeout);
  bool fillInRequestForMultipartMimeDataAtPath(URLRequest& request, const std::string& path);

  // True when the package was handed to the upload client.
  bool prepareAndSubmitReport(std::shared_ptr<CRKInternalReport> report, bool asUrgent, bool withProcessing);
  bool uploadPackagedReportAtPath(const std::string& path, bool asUrgent);
  bool submitPackageMultipartMimeAtPath(const std::string& path, bool synchronously);
  bool cleanUpSubmittedReportAtPath(const std::string& path);
  // The upload client's outcome, passed on by the crash reporting controller.
  void reportUploadAtPathCompletedWithError(const std::string& path, const OptionalError& error);

  const std::shared_ptr<OperationQueue>& operationQueue() const { return mQueue; }
  const std::shared_ptr<CRKNetworkClient>& networkClient() const { return mClient; }
  const std::shared_ptr<const CRKFileManager>& fileManager() const { return mFileManager; }

 private:
  std::shared_ptr<OperationQueue> mQueue;
  std::weak_ptr<CRKReportsControllerDelegate> mDelegate;
  std::shared_ptr<CRKNetworkClient> mClient;
  std::shared_ptr<const CRKFileManager> mFileManager;
};

}  // namespace telemetry
