// Start-up cost of the telemetry SDK on the calling thread (each start a fresh process), and the rate of small requests
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

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <unistd.h>

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

constexpr const char* kStartChildVariable = "ORRERY_BENCH_TELEMETRY_START_CHILD";

double milliseconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A measuring child: a first start in fresh folders (construction, validation, kit start,
// settings request) on this thread, wall and CPU, then the settings' arrival. Prints
// "<wall ms> <cpu ms> <announced> <its folders>".
[[noreturn]] void telemetryStartChild(const char* pinnedRootFile) {
  useFreshFolders();
  std::ifstream in(pinnedRootFile, std::ios::binary);
  const std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(der)});
  std::mutex mutex;
  std::condition_variable cond;
  bool announced = false;
  platform::ObserverScope scope;
  scope.observe(kTELSettingsAvailableNotification, nullptr, [&](const platform::Notification&) {
    std::lock_guard lock(mutex);
    announced = true;
    cond.notify_all();
  });
  const double wall = milliseconds(CLOCK_MONOTONIC), cpu = milliseconds(CLOCK_PROCESS_CPUTIME_ID);
  Telemetry::with({});
  const double wallTaken = milliseconds(CLOCK_MONOTONIC) - wall, cpuTaken = milliseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
  bool ok;
  {
    std::unique_lock lock(mutex);
    ok = cond.wait_for(lock, std::chrono::seconds(30), [&] { return announced; });
  }
  // The parent removes the folders once this process and its threads are gone.
  std::printf("%.6f %.6f %d %s\n", wallTaken, cpuTaken, ok ? 1 : 0, std::getenv("HOME"));
  std::fflush(stdout);
  std::_Exit(0);
}

// The whole start on the calling thread. The SDK starts once per process, so every
// measurement is a fresh process (this program again, as a measuring child).
void BM_TelemetryWithOnCallingThread(benchmark::State& state) {
  loopback();  // names the endpoints in the environment the children inherit
  const std::string rootFile = std::filesystem::temp_directory_path() / ("orrery-bench-root-" + std::to_string(getpid()));
  {
    const auto der = loopback().ca.rootDER();
    std::ofstream(rootFile, std::ios::binary).write(reinterpret_cast<const char*>(der.data()), der.size());
  }
  std::vector<double> walls, cpus;
  int announced = 0;
  for (auto _ : state) {
    const std::string command = std::string(kStartChildVariable) + "='" + rootFile + "' /proc/" +
                                std::to_string(getpid()) + "/exe";
    FILE* child = popen(command.c_str(), "r");
    double wall = 0, cpu = 0;
    int ok = 0;
    char folder[4096] = {};
    const bool read = child && std::fscanf(child, "%lf %lf %d %4095s", &wall, &cpu, &ok, folder) == 4;
    if (child) pclose(child);
    std::error_code error;
    if (read && std::string(folder).rfind("/tmp/orrery-bench-", 0) == 0) std::filesystem::remove_all(folder, error);
    if (!read) return state.SkipWithError("the measuring child gave no figures");
    state.SetIterationTime(wall / 1e3);
    walls.push_back(wall);
    cpus.push_back(cpu);
    announced += ok;
  }
  std::filesystem::remove(rootFile);
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  state.counters["wall_p50_ms"] = walls[walls.size() / 2];
  state.counters["cpu_p50_ms"] = cpus[cpus.size() / 2];
  state.counters["settings_announced"] = static_cast<double>(announced) / static_cast<double>(walls.size());
}
BENCHMARK(BM_TelemetryWithOnCallingThread)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

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

int main(int argc, char** argv) {
  if (const char* rootFile = std::getenv(kStartChildVariable)) telemetryStartChild(rootFile);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
