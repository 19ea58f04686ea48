// The beta update check against the loopback HTTPS server, its suspension on a virtual clock.
#include <gtest/gtest.h>

#include <cstdlib>

#include "crash/crk_beta_controller.h"
#include "platform/core/notification_center.h"
#include "sdk/net/virtual_retry_queue.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "support/https_test_server.h"

namespace {

using namespace telemetry;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

class FixedDelegate final : public CRKBetaControllerDelegate {
 public:
  std::optional<std::string> APIKeyForBetaController(CRKBetaController&) override { return "beta-key"; }
  std::shared_ptr<CRKSettings> settingsForBetaController(CRKBetaController&) override {
    return std::make_shared<CRKSettings>(
        std::make_shared<const nlohmann::json>(nlohmann::json{{"beta", {{"update_suspend_duration", 3600}}}}));
  }
};

class CRKBetaControllerTest : public ::testing::Test {
 protected:
  CRKBetaControllerTest() : ca("Beta Test Root"), server(ca) {
    TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(ca.rootDER())});
    setenv("CrashKitBetaEndpoint", server.origin().c_str(), 1);
    previous = CRKBetaController::setTokenProviderForTesting([] { return std::optional<std::string>("2:tester"); });
  }
  ~CRKBetaControllerTest() override {
    controller.reset();
    CRKBetaController::setTokenProviderForTesting(previous);
    unsetenv("CrashKitBetaEndpoint");
    TELSetPinnedCertificatesForTesting(std::nullopt);
  }
  void make() {
    CRKBetaController::Environment env;
    env.betaSupported = true;
    env.instanceIdentifier = "instance-1";
    env.mainQueue = mainQueueOwner;
    controller = CRKBetaController::initWithDelegate(delegate, env);
  }
  static void settingsArrived() {
    platform::NotificationCenter::defaultCenter().post(kTELSettingsAvailableNotification);
  }
  // Until the answer was handled and the main-queue work it queued has run.
  void settle() { settle(mainQueue); }
  void settle(test::VirtualRetryQueue& queue) {
    for (int i = 0; i < 2000 && controller->retrying(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    controller->drain();
    queue.advance(0.001);
  }

  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::shared_ptr<test::VirtualRetryQueue> mainQueueOwner = std::make_shared<test::VirtualRetryQueue>();
  test::VirtualRetryQueue& mainQueue = *mainQueueOwner;
  std::shared_ptr<FixedDelegate> delegate = std::make_shared<FixedDelegate>();
  CRKBetaController::TokenProvider previous;
  std::shared_ptr<CRKBetaController> controller;
};

TEST_F(CRKBetaControllerTest, WithoutATokenNothingIsChecked) {
  CRKBetaController::setTokenProviderForTesting({});
  make();
  EXPECT_FALSE(controller->start());
  settingsArrived();
  controller->drain();
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(CRKBetaControllerTest, AnUpdateIsOfferedThenChecksWaitForTheSuspension) {
  server.script("/spi/v2/platforms/mac/apps/",
                {HttpsTestResponse::ok("{\"url\":\"https://example.org/b.zip\",\"version_string\":\"2.0\"}"),
                 HttpsTestResponse::ok("{\"version_string\":\"3.0\"}")});
  make();
  ASSERT_TRUE(controller->start());
  settingsArrived();
  ASSERT_TRUE(server.waitForRequests(1));
  settle();
  const auto request = server.requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_NE(request.path.find("/beta_update_check"), std::string::npos);
  EXPECT_EQ(request.query.find("build_version="), 0u);
  EXPECT_NE(request.query.find("&instance=instance-1&source="), std::string::npos);
  EXPECT_EQ(request.header("X-CrashKit-Beta-Token"), "2:tester");
  EXPECT_EQ(request.header("X-CrashKit-API-Key"), "beta-key");
  EXPECT_EQ(request.header("X-CrashKit-API-Client-Id"), "org.orrery.telemetry.kit.crashkit.mac");
  EXPECT_EQ(request.header("User-Agent"), "CrashKit Mac SDK/3.8.2");
  EXPECT_EQ(request.header("X-CrashKit-Developer-Token")->size(), 40u);
  ASSERT_TRUE(controller->activeUpdate());
  EXPECT_EQ(controller->activeUpdate()->url, "https://example.org/b.zip");
  EXPECT_EQ(controller->activeUpdate()->version, "2.0");
  EXPECT_EQ(controller->activeUpdate()->promptTitle(), "New Build Available");

  EXPECT_TRUE(controller->checksSuspended());
  settingsArrived();
  controller->drain();
  EXPECT_EQ(server.requestCount(), 1u);
  mainQueue.advance(3599);
  EXPECT_TRUE(controller->checksSuspended());
  mainQueue.advance(2);
  EXPECT_FALSE(controller->checksSuspended());

  // An answer without "url" offers nothing new but suspends all the same.
  settingsArrived();
  ASSERT_TRUE(server.waitForRequests(2));
  settle();
  EXPECT_EQ(controller->activeUpdate()->version, "2.0");
  EXPECT_TRUE(controller->checksSuspended());
}

TEST_F(CRKBetaControllerTest, AFailedOrEmptyLoadLeavesTheNextCheckFree) {
  server.script("/spi/v2/platforms/mac/apps/", {HttpsTestResponse::withStatus(404), HttpsTestResponse::ok(""),
                                                HttpsTestResponse::ok("not json")});
  make();
  ASSERT_TRUE(controller->start());
  for (size_t n = 1; n <= 2; ++n) {
    settingsArrived();
    ASSERT_TRUE(server.waitForRequests(n));
    settle();
    EXPECT_FALSE(controller->checksSuspended()) << n;
    EXPECT_FALSE(controller->retrying()) << n;
  }
  settingsArrived();
  ASSERT_TRUE(server.waitForRequests(3));
  settle();
  EXPECT_FALSE(controller->activeUpdate());
  EXPECT_TRUE(controller->checksSuspended());
  EXPECT_FALSE(CRKBetaUpdate::betaUpdateWithDictionary(nlohmann::json::array(), nullptr));
  OptionalError error;
  EXPECT_FALSE(CRKBetaUpdate::betaUpdateWithDictionary({{"url", 7}}, &error));
  EXPECT_TRUE(error && error->code == -1017);
}

// The suspension timer's queue stays with the controller after whoever handed it over let go.
TEST_F(CRKBetaControllerTest, TheSuspensionKeepsItsQueueAfterItsGiverLetGo) {
  server.script("/spi/v2/platforms/mac/apps/",
                {HttpsTestResponse::ok("{\"url\":\"https://example.org/b.zip\",\"version_string\":\"2.0\"}")});
  auto given = std::make_shared<test::VirtualRetryQueue>();
  std::weak_ptr<test::VirtualRetryQueue> timers = given;
  CRKBetaController::Environment env;
  env.betaSupported = true;
  env.instanceIdentifier = "instance-1";
  env.mainQueue = std::move(given);
  controller = CRKBetaController::initWithDelegate(delegate, std::move(env));
  ASSERT_TRUE(controller->start());
  settingsArrived();
  ASSERT_TRUE(server.waitForRequests(1));
  auto queue = timers.lock();
  ASSERT_TRUE(queue);
  settle(*queue);
  EXPECT_TRUE(controller->checksSuspended());
  queue->advance(3601);
  EXPECT_FALSE(controller->checksSuspended());
}

}  // namespace
