#pragma once
// The application's side of the crash reporting controller for programs that do not ask the
// user: every earlier report is submitted, or, when told not to, left undecided in "active".

#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_settings.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace crashtest {

class SubmittingCrashDelegate final : public telemetry::CRKCrashReportingControllerDelegate {
 public:
  using Controller = telemetry::CRKCrashReportingController;

  SubmittingCrashDelegate(std::string apiKey, std::string installID, bool submit = true)
      : mAPIKey(std::move(apiKey)), mInstallID(std::move(installID)), mSubmit(submit) {}

  bool shouldInstallCrashCallback() override { return false; }
  void detectedCrash() override {}
  bool reportingControllerCanUseBackgroundSessions(Controller&) override { return false; }
  bool reportingControllerMustInformDelegateOfReports(Controller&) override { return false; }
  void reportingControllerDidDetectReportForLastExecution(Controller&, std::shared_ptr<telemetry::CRKReport>,
                                                          std::function<void(bool)> completion) override {
    if (mSubmit) completion(true);
  }
  void reportingControllerInternalDidDetectReportForLastExecution(
      Controller&, std::shared_ptr<telemetry::CRKInternalReport>) override {}
  bool reportingControllerEnsureDeliveryOfUnixSignal(Controller&, int) override { return false; }
  std::optional<std::string> APIKeyForCrashReportingController(Controller&) override { return mAPIKey; }
  std::optional<std::string> installIDForCrashReportingController(Controller&) override { return mInstallID; }
  bool isFirstInstallForCrashReportingController(Controller&) override { return false; }
  std::shared_ptr<telemetry::CRKSettings> settingsForCrashReportingController(Controller&) override {
    return std::make_shared<telemetry::CRKSettings>(std::make_shared<const nlohmann::json>(
        nlohmann::json{{"features", {{"collect_reports", true}, {"prompt_enabled", false}}}}));
  }

 private:
  std::string mAPIKey;
  std::string mInstallID;
  bool mSubmit;
};

}  // namespace crashtest
