// Start-up cost of the telemetry SDK on the calling thread, and the rate of small requests
// over pinned HTTPS to a loopback server.

#include "support/https_test_server.h"

#include "sdk/client/tel_network_client.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/settings/tel_settings_onboarding_manager.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/startup/telemetry.h"

#include "platform/core/notification_center.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>

namespace {

using namespace telemetry;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

struct Loopback {
  TestCertificateAuthority ca{"Bench Root"};
  HttpsTestServer server{ca, HttpsTestServer::Limits{std::chrono::seconds(600), 2000000, 128, std::chrono::seconds(5)}};
  CertificateList pinned{Certificate::createWithData(ca.rootDER())};

  Loopback() {
    server.script("/spi/v2/", {HttpsTestResponse::ok("{\"app\":{\"status\":\"activated\"}}")});
    server.script("/small", {HttpsTestResponse::ok("{\"ok\":true}")});
    setenv("SettingsEndpoint", server.origin().c_str(), 1);
    setenv("ConfigureEndpoint", server.origin().c_str(), 1);
  }
};

Loopback& loopback() {
  static Loopback* l = new Loopback();
  return *l;
}

void useFreshFolders() {
  static bool done = false;
  if (done) return;
  done = true;
  char templ[] = "/tmp/orrery-bench-XXXXXX";
  std::string root = mkdtemp(templ);
  setenv("HOME", root.c_str(), 1);
  setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("TMPDIR", root.c_str(), 1);
  MainBundle::shared().setInfoDictionary(nlohmann::json{
      {"CFBundleIdentifier", "org.orrery.bench"},
      {"CFBundleVersion", "150"},
      {"CFBundleShortVersionString", "1.5.0"},
      {"Telemetry", {{"APIKey", "bench-key"}, {"Kits", nlohmann::json::array()}}}});
}

// The whole start, once per process: construction, validation, kit start, settings request.
void BM_TelemetryWithOnCallingThread(benchmark::State& state) {
  useFreshFolders();
  TELSetPinnedCertificatesForTesting(loopback().pinned);
  std::mutex mutex;
  std::condition_variable cond;
  bool announced = false;
  platform::ObserverScope scope;
  scope.observe(kTELSettingsAvailableNotification, nullptr, [&](const platform::Notification&) {
    std::lock_guard lock(mutex);
    announced = true;
    cond.notify_all();
  });
  for (auto _ : state) Telemetry::with({});
  std::unique_lock lock(mutex);
  bool ok = cond.wait_for(lock, std::chrono::seconds(30), [&] { return announced; });
  state.counters["settings_announced"] = ok ? 1 : 0;
}
BENCHMARK(BM_TelemetryWithOnCallingThread)->Iterations(1)->Unit(benchmark::kMillisecond);

// What a start costs the calling thread once the SDK object exists: building the settings
// request and handing it to the session.
void BM_SettingsDownloadStartOnCallingThread(benchmark::State& state) {
  useFreshFolders();
  auto model = TELApplicationIdentiferModel::create("bench-install");
  std::vector<std::shared_ptr<TELSettingsOnboardingManager>> managers;
  for (auto _ : state) {
    state.PauseTiming();
    auto manager = TELSettingsOnboardingManager::create(model, loopback().pinned);
    state.ResumeTiming();
    manager->beginSettingsAndOnboardingOperationsWithAPIKey("bench-key", {{"org.orrery.telemetry.Telemetry", "1.6.8"}});
    state.PauseTiming();
    managers.push_back(std::move(manager));
    if (managers.size() >= 16) managers.clear();
    state.ResumeTiming();
  }
  managers.clear();
}
BENCHMARK(BM_SettingsDownloadStartOnCallingThread)->Unit(benchmark::kMicrosecond)->Iterations(200);

// Small GETs over pinned loopback HTTPS, `range(0)` in flight at a time.
void BM_PinnedSmallRequests(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  auto client = TELNetworkClient::createWithQueue(nullptr, loopback().pinned);
  const std::string url = loopback().server.origin() + "/small";
  std::atomic<int> failures{0};
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable cond;
    int remaining = inFlight;
    for (int i = 0; i < inFlight; ++i) {
      client->startDataTaskWithRequest(URLRequest(url, 10), 0, [&](const auto&, const auto&, const OptionalError& e) {
        if (e) ++failures;
        std::lock_guard lock(mutex);
        if (--remaining == 0) cond.notify_all();
      });
    }
    std::unique_lock lock(mutex);
    cond.wait(lock, [&] { return remaining == 0; });
  }
  state.SetItemsProcessed(state.iterations() * inFlight);
  state.counters["failures"] = failures.load();
  state.counters["tls_handshakes"] = static_cast<double>(loopback().server.connectionCount());
  client->invalidateAndCancel();
}
BENCHMARK(BM_PinnedSmallRequests)->Arg(1)->Arg(2)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// One small GET on a fresh session: connection, TLS handshake, pin check, request.
void BM_PinnedRequestOnNewConnection(benchmark::State& state) {
  const std::string url = loopback().server.origin() + "/small";
  int failures = 0;
  for (auto _ : state) {
    auto client = TELNetworkClient::createWithQueue(nullptr, loopback().pinned);
    std::promise<bool> done;
    client->startDataTaskWithRequest(URLRequest(url, 10), 0, [&](const auto&, const auto&, const OptionalError& e) {
      done.set_value(!e);
    });
    if (!done.get_future().get()) ++failures;
    client->invalidateAndCancel();
  }
  state.counters["failures"] = failures;
}
BENCHMARK(BM_PinnedRequestOnNewConnection)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
