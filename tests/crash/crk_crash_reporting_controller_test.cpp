// The crash reporting controller driven through its delegate, each case in a fresh process
// (it starts the process's one crash context): earlier reports submitted, declined or
// deleted, the urgent path after a launch that died early, the permission prompt through a
// scripted presenter, reporting switched off, the run's timing keys and the 600-second retry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include "crash/crk_context.h"
#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_early_capture.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_settings.h"
#include "crash/crk_signal.h"
#include "crash/crk_user_logging.h"
#include "crash_test_support.h"
#include "hex_text.h"
#include "folder_wait.h"
#include "platform/core/notification_center.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/net/captured_console.h"
#include "sdk/net/virtual_retry_queue.h"
#include "sdk/session/certificate.h"
#include "support/https_test_server.h"
#include "support/virtual_main_queue.h"

namespace {

using namespace telemetry;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

using crashtest::DeathStyle;

class ScriptedDelegate final : public CRKCrashReportingControllerDelegate {
 public:
  bool shouldInstallCrashCallback() override { return installCrashCallback; }
  void detectedCrash() override { ++crashes; }
  bool reportingControllerCanUseBackgroundSessions(CRKCrashReportingController&) override { return false; }
  bool reportingControllerMustInformDelegateOfReports(CRKCrashReportingController&) override { return mustInform; }
  void reportingControllerDidDetectReportForLastExecution(CRKCrashReportingController& controller,
                                                          std::shared_ptr<CRKReport> report,
                                                          std::function<void(bool)> completion) override {
    std::lock_guard lock(mutex);
    asked.insert(report->identifier());
    // Asked during the start: the work queue holds what the start queued until it returned.
    if (!controller.operationQueue()->isSuspended()) askedWhileQueueRan = true;
    completion(declined.count(report->identifier()) == 0);
  }
  void reportingControllerInternalDidDetectReportForLastExecution(CRKCrashReportingController&,
                                                                  std::shared_ptr<CRKInternalReport> report) override {
    std::lock_guard lock(mutex);
    detected.insert(report->identifier());
  }
  bool reportingControllerEnsureDeliveryOfUnixSignal(CRKCrashReportingController&, int) override { return false; }
  std::optional<std::string> APIKeyForCrashReportingController(CRKCrashReportingController&) override {
    return "api-key-3";
  }
  std::optional<std::string> installIDForCrashReportingController(CRKCrashReportingController&) override {
    return "install-1";
  }
  bool isFirstInstallForCrashReportingController(CRKCrashReportingController&) override { return false; }
  // The controller keeps the settings it is given until it is destroyed, so their release
  // tells when it is gone (a work-queue thread may hold it a moment after its last task).
  std::shared_ptr<CRKSettings> settingsForCrashReportingController(CRKCrashReportingController&) override {
    auto count = settingsCount;
    std::lock_guard lock(count->mutex);
    ++count->handedOut;
    return std::shared_ptr<CRKSettings>(new CRKSettings(std::make_shared<const nlohmann::json>(settings)),
                                        [count](CRKSettings* gone) {
                                          delete gone;
                                          std::lock_guard lock(count->mutex);
                                          ++count->released;
                                          count->changed.notify_all();
                                        });
  }
  bool waitUntilSettingsReleased() {
    auto& count = *settingsCount;
    std::unique_lock lock(count.mutex);
    return count.changed.wait_for(lock, 20s, [&] { return count.released == count.handedOut; });
  }

  nlohmann::json settings = {{"features", {{"collect_reports", true}, {"prompt_enabled", false}}}};
  bool mustInform = false;
  bool installCrashCallback = false;
  std::atomic<int> crashes{0};
  std::set<std::string> declined;
  std::mutex mutex;
  std::set<std::string> asked, detected;
  bool askedWhileQueueRan = false;

 private:
  struct SettingsCount {
    std::mutex mutex;
    std::condition_variable changed;
    int handedOut = 0, released = 0;
  };
  std::shared_ptr<SettingsCount> settingsCount = std::make_shared<SettingsCount>();
};

class ScriptedPresenter final : public CRKPermissionPresenter {
 public:
  explicit ScriptedPresenter(std::vector<Choice> choices) : mChoices(std::move(choices)) {}
  void present(const Texts& texts, std::function<void(Choice)> completion) override {
    shown.push_back(texts);
    Choice choice = mChoices.empty() ? Choice::Cancel : mChoices.front();
    if (!mChoices.empty()) mChoices.erase(mChoices.begin());
    completion(choice);
  }
  std::vector<Texts> shown;

 private:
  std::vector<Choice> mChoices;
};

// One child process's whole world: server, tree, delegate, controller.
struct World {
  TestCertificateAuthority ca{"Crash Controller Root"};
  HttpsTestServer server{ca};
  std::shared_ptr<CRKFileManager> manager = std::make_shared<CRKFileManager>(crashtest::makeFolder("crash-controller"));
  std::shared_ptr<ScriptedDelegate> delegate = std::make_shared<ScriptedDelegate>();
  test::VirtualMainQueue mainQueue;
  std::shared_ptr<test::VirtualRetryQueue> retries = std::make_shared<test::VirtualRetryQueue>();
  std::shared_ptr<CRKCrashReportingController> controller;

  World() {
    setenv("CrashKitReportsEndpoint", server.origin().c_str(), 1);
    MainBundle::shared().setInfoDictionary(nlohmann::json{{"CFBundleIdentifier", "org.orrery/Orrery"}});
    manager->prepareForNewLaunch();
  }
  void make() {
    controller = CRKCrashReportingController::create(manager, delegate,
                                                     CertificateList{Certificate::createWithData(ca.rootDER())});
    controller->setRetryQueue(retries);
    controller->setExecutionIdentifier("cccccccccccccccccccccccccccccccc");
  }
  std::string earlier(const std::string& id, bool crash = true) {
    std::string folder = manager->activePath() + "/" + id;
    manager->createDirectoryAtPath(folder);
    std::ofstream(folder + "/metadata.crkrecord") << R"({"identity":{"session_id":")" << id << R"(","api_key":"k"}})"
                                                  << "\n";
    std::ofstream(folder + (crash ? "/signal.crkrecord" : "/log_a.crkrecord")) << R"({"threads":[]})" << "\n";
    return folder;
  }
  bool idle() {
    controller->operationQueue()->waitUntilAllOperationsAreFinished();
    return true;
  }
  // Lets go of the controller and waits until it is destroyed.
  bool dropController() {
    idle();
    std::weak_ptr<CRKCrashReportingController> weak = controller;
    controller.reset();
    return delegate->waitUntilSettingsReleased() && weak.expired();
  }
  bool empty(const std::string& folder) { return crashtest::run("ls -A '" + folder + "'").empty(); }
  std::map<std::string, std::string> internalKeys() {
    std::string folder = manager->activePath() + "/cccccccccccccccccccccccccccccccc";
    CRKLoggingQueue()->sync([] {});
    return CRKUserLoggingReadKeyValueFiles((folder + "/internal_compacted_kv.crkrecord").c_str(),
                                           (folder + "/internal_incremental_kv.crkrecord").c_str());
  }
};

using testsupport::hex;

TEST(CrashReportingController, EarlierReportsAreSubmittedDeclinedOrDeletedAndTheRunIsTimed) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        World w;
        w.server.script("/sdk-api", {HttpsTestResponse::ok("{}")});
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        w.earlier("bbbb0000bbbb0000bbbb0000bbbb0000", false);
        w.earlier("dddd0000dddd0000dddd0000dddd0000");
        std::string live = w.earlier("eeee0000eeee0000eeee0000eeee0000");
        int lock = CRKFileManager::lockReportFolder(live);
        w.delegate->declined = {"dddd0000dddd0000dddd0000dddd0000"};
        w.make();
        if (!w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt)) _exit(2);
        if (w.delegate->askedWhileQueueRan || w.controller->operationQueue()->isSuspended()) _exit(14);
        if (!w.server.waitForRequests(1)) _exit(3);
        if (!crashtest::waitUntilFolderEmpty(w.manager->preparedPath())) _exit(13);
        w.idle();
        auto active = w.manager->activePathContents();
        if (active != std::vector<std::string>{w.manager->activePath() + "/cccccccccccccccccccccccccccccccc", live})
          _exit(4);
        if (!w.empty(w.manager->processingPath()) || !w.empty(w.manager->preparedPath())) _exit(5);
        if (w.delegate->asked != std::set<std::string>{"aaaa0000aaaa0000aaaa0000aaaa0000",
                                                       "dddd0000dddd0000dddd0000dddd0000"})
          _exit(6);
        if (w.server.requests()[0].path != "/sdk-api/v1/platforms/mac/apps/org.orrery_Orrery/reports") _exit(7);
        if (!w.internalKeys().count(hex("org.orrery.telemetry.kit-start-time"))) _exit(8);
        if (!w.internalKeys().count(hex("org.orrery.telemetry.in-background"))) _exit(9);
        if (access(w.manager->launchMarkerPath().c_str(), F_OK) != 0) _exit(10);
        w.mainQueue.loop->runUntil([&] { return access(w.manager->launchMarkerPath().c_str(), F_OK) != 0; });
        if (!w.internalKeys().count(hex("org.orrery.telemetry.first-run-loop-time"))) _exit(11);
        platform::NotificationCenter::defaultCenter().post(CRKCrashReportingController::kDidResignActive);
        if (w.internalKeys()[hex("org.orrery.telemetry.in-background")] != hex("1")) _exit(12);
        close(lock);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CrashReportingController, ALaunchThatDiedEarlyMakesEarlierReportsUrgent) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        setenv("CrashKitUrgentReports", "1", 1);
        World w;
        w.server.script("/sdk-api", {HttpsTestResponse::ok("{}"), HttpsTestResponse::ok("{}")});
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        std::ofstream(w.manager->launchMarkerPath()) << "";
        w.delegate->declined = {"aaaa0000aaaa0000aaaa0000aaaa0000"};
        w.make();
        w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
        // Sent synchronously during start, without asking the delegate.
        if (w.server.requestCount() != 1) _exit(2);
        if (!w.delegate->asked.empty()) _exit(3);
        if (!w.delegate->detected.count("aaaa0000aaaa0000aaaa0000aaaa0000")) _exit(4);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        setenv("CrashKitUrgentReports", "1", 1);
        World w;
        w.server.script("/sdk-api", {HttpsTestResponse::ok("{}")});
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        std::ofstream(w.manager->launchMarkerPath()) << "";
        w.delegate->mustInform = true;
        w.delegate->declined = {"aaaa0000aaaa0000aaaa0000aaaa0000"};
        w.make();
        w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
        w.idle();
        if (w.server.requestCount() != 0) _exit(2);
        if (w.delegate->asked.size() != 1) _exit(3);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The capture from the first lines of main makes the launch marker itself; the kit hears from it
// whether the last launch left one, and takes the signals over without reporting the capture's
// own folder as an earlier report, nor logging it as one it could not read.
TEST(CrashReportingController, TheCaptureBeforeTheStartHandsTheMarkerAndTheSignalsToTheKit) {
  DeathStyle style;
  for (const bool leftByLastLaunch : {true, false}) {
    SCOPED_TRACE(leftByLastLaunch ? "marker left" : "no marker");
    EXPECT_EXIT(
        {
          // The system log's lines are copied to standard error, which the matcher reads.
          ::openlog("orrery", LOG_PID | LOG_PERROR, LOG_USER);
          setenv("CrashKitUrgentReports", "1", 1);
          World w;
          w.server.script("/sdk-api", {HttpsTestResponse::ok("{}")});
          w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
          if (leftByLastLaunch) std::ofstream(w.manager->launchMarkerPath()) << "";
          struct sigaction before {};
          sigaction(SIGSEGV, nullptr, &before);
          if (!CRKEarlyCaptureInstall(w.manager->rootPath())) _exit(2);
          const std::string early = CRKEarlyCaptureReportPath();
          struct sigaction during {};
          sigaction(SIGSEGV, nullptr, &during);
          stack_t duringStack{};
          sigaltstack(nullptr, &duringStack);
          if (access(w.manager->launchMarkerPath().c_str(), F_OK) != 0) _exit(3);
          if (during.sa_sigaction == before.sa_sigaction) _exit(4);
          w.delegate->declined = {"aaaa0000aaaa0000aaaa0000aaaa0000"};
          w.make();
          w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
          w.idle();
          // Urgent after a launch that died: sent during the start without asking.
          if (w.server.requestCount() != (leftByLastLaunch ? 1u : 0u)) _exit(5);
          if (w.delegate->asked.empty() != leftByLastLaunch) _exit(6);
          if (access(early.c_str(), F_OK) == 0) _exit(7);
          if (w.delegate->detected.size() != 1) _exit(8);
          struct sigaction after {};
          sigaction(SIGSEGV, nullptr, &after);
          if (after.sa_sigaction != CRKSignalHandler) _exit(9);
          if (CRKEarlyCaptureEnd()) _exit(10);
          // The kit went in while the capture still caught: it hands a fault on to what was there
          // before the capture, never to the capture.
          const CRKContext* context = CRKContextGet();
          const size_t segv = std::find(std::begin(kCRKHandledSignals), std::end(kCRKHandledSignals), SIGSEGV) -
                              std::begin(kCRKHandledSignals);
          if (context->signal.priorActions[segv].sa_sigaction != before.sa_sigaction) _exit(11);
          if (context->signal.priorStack.ss_sp == duringStack.ss_sp) _exit(12);
          _exit(0);
        },
        ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("Unable to read identifier")));
  }
}

// Runs three earlier reports past a presenter answering `choice` once; answers the exit code.
int promptRun(CRKPermissionPresenter::Choice choice, size_t expectedRequests) {
  test::CapturedConsole console;  // debug mode stays off
  World w;
  w.server.script("/sdk-api", std::vector<HttpsTestResponse>(3, HttpsTestResponse::ok("{}")));
  w.delegate->settings["features"]["prompt_enabled"] = true;
  w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
  w.earlier("bbbb0000bbbb0000bbbb0000bbbb0000");
  w.earlier("dddd0000dddd0000dddd0000dddd0000");
  auto presenter = std::make_shared<ScriptedPresenter>(std::vector<CRKPermissionPresenter::Choice>{choice});
  CRKCrashReportingController::setPermissionPresenter(presenter);
  w.make();
  w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
  // Each alert runs on the main queue, its answer on the work queue.
  for (int turn = 0; turn < 4; ++turn) {
    w.idle();
    w.mainQueue.loop->runUntil([] { return false; }, platform::Millis(50));
  }
  w.idle();
  // One alert only: the choice holds for the rest of the run.
  if (presenter->shown.size() != 1) return 2;
  if (!presenter->shown[0].alwaysSend || presenter->shown[0].send.empty()) return 3;
  if (expectedRequests && !w.server.waitForRequests(expectedRequests)) return 4;
  if (w.server.requestCount() != expectedRequests) return 5;
  // Only the current run's folder is left in "active".
  if (w.manager->activePathContents().size() != 1) return 6;
  // "Always Send" is noted in the system log whether or not debug mode is on.
  const auto lines = console.lines();
  const auto noted = std::count(lines.begin(), lines.end(), "should set always submit here");
  if (noted != (choice == CRKPermissionPresenter::Choice::AlwaysSend ? 1 : 0)) return 7;
  return 0;
}

TEST(CrashReportingController, ThePromptsAnswerHoldsForTheRun) {
  DeathStyle style;
  EXPECT_EXIT(_exit(promptRun(CRKPermissionPresenter::Choice::AlwaysSend, 3)), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(_exit(promptRun(CRKPermissionPresenter::Choice::Cancel, 0)), ::testing::ExitedWithCode(0), "");
}

TEST(CrashReportingController, ReportingSwitchedOffEmptiesTheTree) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        World w;
        w.delegate->settings["features"]["collect_reports"] = false;
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        std::ofstream(w.manager->preparedPath() + "/X.multipartmime") << "x";
        struct sigaction before {};
        sigaction(SIGSEGV, nullptr, &before);
        if (!CRKEarlyCaptureInstall(w.manager->rootPath())) _exit(7);
        w.make();
        if (w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt)) _exit(2);
        if (!w.empty(w.manager->activePath()) || !w.empty(w.manager->preparedPath())) _exit(3);
        if (CRKContextIsInitialized()) _exit(4);
        // The capture from the start of main ended all the same: what was there before it is back.
        struct sigaction after {};
        sigaction(SIGSEGV, nullptr, &after);
        if (CRKEarlyCaptureMarkerFound() || after.sa_sigaction != before.sa_sigaction) _exit(8);
        MainBundle::shared().setInfoDictionary(nlohmann::json{{"CFBundleIdentifier", ""}});
        w.delegate->settings["features"]["collect_reports"] = true;
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        w.make();
        if (w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt)) _exit(5);
        if (w.manager->activePathContents().size() != 1) _exit(6);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CrashReportingController, AFailedSubmissionIsRetriedSixHundredSecondsLater) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        World w;
        w.server.script("/sdk-api", {HttpsTestResponse::withStatus(400), HttpsTestResponse::ok("{}")});
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        w.make();
        w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
        if (!w.server.waitForRequests(1)) _exit(2);
        if (!w.retries->waitForScheduled(1)) _exit(3);
        w.retries->advance(599);
        w.idle();
        if (w.server.requestCount() != 1) _exit(4);
        if (!w.retries->advanceUntilFired(2)) _exit(5);
        if (!w.server.waitForRequests(2)) _exit(6);
        if (!crashtest::waitUntilFolderEmpty(w.manager->preparedPath())) _exit(7);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The session keeps the upload client, and so its completions, alive past the controller that
// made it. An answer held back until the controller, its file manager and its retry queue
// were let go still restarts the upload, and the refusal that follows is counted beside the
// package.
TEST(CrashReportingController, AnUploadOutlivesItsControllerAndWhatItsOwnerHeld) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        World w;
        w.server.script("/sdk-api", {HttpsTestResponse::heldUntilReleased(HttpsTestResponse::withStatus(503)),
                                     HttpsTestResponse::withStatus(400)});
        w.earlier("aaaa0000aaaa0000aaaa0000aaaa0000");
        w.make();
        w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
        if (!w.server.waitForRequests(1)) _exit(2);
        const std::string prepared = w.manager->preparedPath();
        std::weak_ptr<test::VirtualRetryQueue> weakRetries = w.retries;
        if (!w.dropController()) _exit(3);
        w.manager.reset();
        w.retries.reset();
        w.server.release();
        auto retries = weakRetries.lock();
        if (!retries || !retries->waitForScheduled(1)) _exit(4);
        if (!retries->advanceUntilFired(3)) _exit(5);
        if (!w.server.waitForRequests(2)) _exit(6);
        if (!crashtest::waitForEntryEndingWith(prepared, ".multipartmime.refusals")) _exit(7);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The crash context keeps its callback for the rest of the process; once the controller is
// gone a crash reaches nobody rather than a freed controller.
TEST(CrashReportingController, TheCrashCallbackReachesTheDelegateOnlyWhileTheControllerLives) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        World w;
        w.delegate->installCrashCallback = true;
        w.make();
        if (!w.controller->startWithProfilingMark(CRKProfileMark(), std::nullopt)) _exit(2);
        CRKContext* context = CRKContextGet();
        if (!context || !context->crashCallbackTarget) _exit(3);
        context->crashCallbackTarget->deliverCrashDelegateCallback();
        if (w.delegate->crashes != 1) _exit(4);
        if (!w.dropController()) _exit(5);
        context->crashCallbackTarget->deliverCrashDelegateCallback();
        if (w.delegate->crashes != 1) _exit(6);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
