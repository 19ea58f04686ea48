#include "crash/crk_reports_controller.h"

#include "crash/crk_context.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_network_client.h"
#include "crash/crk_package_report.h"
#include "crash/crk_settings.h"
#include "crash/crk_symbolication.h"
#include "sdk/analytics/ana_activity.h"
#include "sdk/client/tel_url_builder.h"
#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/core/standard_paths.h"
#include "sdk/net/tel_network_operation.h"

namespace telemetry {

namespace {

std::string nameWithoutExtension(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

CRKReportsController::CRKReportsController(std::shared_ptr<OperationQueue> queue,
                                           std::weak_ptr<CRKReportsControllerDelegate> delegate,
                                           std::shared_ptr<CRKNetworkClient> client,
                                           std::shared_ptr<const CRKFileManager> fileManager)
    : mQueue(std::move(queue)),
      mDelegate(std::move(delegate)),
      mClient(std::move(client)),
      mFileManager(std::move(fileManager)) {}

std::shared_ptr<CRKSettings> CRKReportsController::settings() {
  auto delegate = mDelegate.lock();
  auto settings = delegate ? delegate->settingsForReportsController(*this) : nullptr;
  return settings ? settings : CRKSettings::current();
}

std::optional<std::string> CRKReportsController::appBundleIdentifier() {
  auto delegate = mDelegate.lock();
  return delegate ? delegate->bundleIdentifierForReportsController(*this) : std::nullopt;
}

std::optional<std::string> CRKReportsController::APIKey() {
  auto delegate = mDelegate.lock();
  return delegate ? delegate->APIKeyForReportsController(*this) : std::nullopt;
}

std::string CRKReportsController::reportEndpoint() { return settings()->reportsEndpoint(); }

std::optional<std::string> CRKReportsController::reportURL() {
  const std::string endpoint = reportEndpoint();
  if (endpoint.empty()) return std::nullopt;  // the report stays packaged on disk
  TELURLBuilder builder = TELURLBuilder::URLWithBase(endpoint);
  builder.appendComponent("/sdk-api/v1/platforms/");
  builder.appendComponent(kPlatformName);
  builder.appendComponent("/apps/");
  builder.appendComponent(appBundleIdentifier().value_or(""));
  builder.appendComponent("/reports");
  return builder.URL();
}

bool CRKReportsController::submissionEnabled() { return settings()->shouldSubmitReports(); }
bool CRKReportsController::packagingEnabled() { return settings()->shouldPackageReports(); }

std::string CRKReportsController::localeIdentifier() { return TELNetworkOperation::localeIdentifier(); }

URLRequest CRKReportsController::mutableRequestWithURL(const std::string& url, double timeout) {
  URLRequest request(url, timeout);
  request.setCachePolicy(URLRequest::CachePolicy::ReloadIgnoringLocalCacheData);
  const std::string locale = localeIdentifier();
  request.setValue(std::string("CrashKit Mac SDK/") + kCRKClientDisplayVersion, "User-Agent");
  request.setValue("application/json", "Accept");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(kDeveloperToken, "X-CrashKit-Developer-Token");
  request.setValue(kCRKBundleIdentifier, "X-CrashKit-API-Client-Id");
  request.setValue(kCRKClientDisplayVersion, "X-CrashKit-API-Client-Display-Version");
  request.setValue(kCRKClientBuildVersion, "X-CrashKit-API-Client-Build-Version");
  request.setValue(APIKey().value_or(""), "X-CrashKit-API-Key");
  return request;
}

bool CRKReportsController::fillInRequestForMultipartMimeDataAtPath(URLRequest& request, const std::string& path) {
  request.setValue("multipart/form-data; boundary=" + nameWithoutExtension(path), "Content-Type");
  auto size = mFileManager->fileSizeAtPath(path);
  if (!size) {
    consoleLog("[CrashKit:Crash:Reports] Could not determine size of multipart mime file");
    return false;
  }
  request.setValue(std::to_string(*size), "Content-Length");
  return true;
}

bool CRKReportsController::prepareAndSubmitReport(std::shared_ptr<CRKInternalReport> report, bool asUrgent,
                                                  bool withProcessing) {
  if (!report) return false;
  bool handedOn = false;
  ANAActivity::performActivity(
      "CrashKit Crash Report Processing",
      ANAActivity::kSuddenTerminationDisabled | ANAActivity::kAutomaticTerminationDisabled, [&] {
        if (withProcessing) {
          if (!mFileManager->moveItemAtPath(report->path(), mFileManager->processingPath())) {
            consoleLog("[CrashKit:Crash:Reports] Unable to move report for processing");
            return;
          }
          report = CRKInternalReport::reportWithPath(
              paths::join(mFileManager->processingPath(), report->directoryName()), report->identifier());
          CRKProcessReportOperation(report, std::make_shared<CRKSymbolResolver>()).main();
        }
        if (!packagingEnabled()) {
          consoleLog("[CrashKit:Crash:Reports] Report packaging disabled");
          return;
        }
        CRKPackageReportOperation packaging(report, mFileManager.get());
        packaging.main();
        if (!packaging.finalPath()) {
          // The report stays in "processing" and is packaged again at the next launch.
          consoleLog("[CrashKit:Crash:Reports] Unable to package report");
          return;
        }
        if (!mFileManager->removeItemAtPath(report->path()))
          consoleLog("[CrashKit:Crash:Reports] Unable to remove a processing item");
        consoleLog("[CrashKit:Crash:Reports] Packaged report with id '" + report->identifier() + "' for submission");
        handedOn = uploadPackagedReportAtPath(*packaging.finalPath(), asUrgent);
      });
  return handedOn;
}

bool CRKReportsController::uploadPackagedReportAtPath(const std::string& path, bool asUrgent) {
  if (!submissionEnabled()) {
    consoleLog("[CrashKit:Crash:Reports] Submission disabled");
    return false;
  }
  debugLog(std::string("[CrashKit:Crash:Reports] Submitting report") + (asUrgent ? " as urgent" : ""));
  return submitPackageMultipartMimeAtPath(path, asUrgent);
}

bool CRKReportsController::submitPackageMultipartMimeAtPath(const std::string& path, bool synchronously) {
  debugLog(std::string("[[CrashKit:Crash:Reports]] Submitting ") + (synchronously ? "sync" : "async") + " " + path);
  auto size = fileio::kindOf(path) == fileio::FileKind::Regular ? mFileManager->fileSizeAtPath(path) : std::nullopt;
  if (!size || *size == 0) {
    debugLog("[CrashKit:Crash:Reports] Already-submitted report being ignored");
    return false;
  }
  const double timeout = !synchronously || mClient->supportsBackgroundRequests() ? 10.0 : 2.0;
  auto url = reportURL();
  if (!url) return false;
  URLRequest request = mutableRequestWithURL(*url, timeout);
  request.setHTTPMethod("POST");
  if (!fillInRequestForMultipartMimeDataAtPath(request, path)) return false;
  mClient->startUploadRequest(request, path, synchronously);
  return true;
}

bool CRKReportsController::cleanUpSubmittedReportAtPath(const std::string& path) {
  if (mFileManager->removeItemAtPath(path)) return true;
  consoleLog("[CrashKit:Crash:Reports] Unable to remove packaged submission");
  return false;
}

void CRKReportsController::reportUploadAtPathCompletedWithError(const std::string& path, const OptionalError& error) {
  debugLog("[CrashKit:Crash:Reports] completed submission of " + path);
  if (!error) cleanUpSubmittedReportAtPath(path);
  if (auto delegate = mDelegate.lock()) delegate->reportsControllerDidCompletePackageSubmission(*this, path, error);
}

}  // namespace telemetry
