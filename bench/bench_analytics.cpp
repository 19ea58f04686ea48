// The analytics engine's costs, each beside its floor in the same run:
// - recording one custom event on the calling thread with the engine running (its queue
//   writing and rotating logs behind), as fast as the callers can and at a pace the engine
//   keeps up with, beside an empty std::function call plus a mutex lock;
//   latency percentiles are counters (nanoseconds);
// - events per second sustained to disk by 8 threads (default rotation, uploads to a loopback
//   server on), beside an open-append-close loop of the same lines;
// - upload throughput of packages made from 8 KB and 1 MiB logs through the engine, beside
//   the same package files sent by CRKURLSession upload tasks all at once.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <thread>

#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/analytics/analytics.h"
#include "sdk/net/url_request.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "sdk/session/crk_url_session.h"
#include "support/https_test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters["p50_ns"] = samples[samples.size() / 2];
  state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
}

// The samples of every thread of one run. Google Benchmark adds a counter across threads,
// which for a percentile means nothing: each thread hands its samples in as it ends, and the
// first thread reports the percentiles over all of them.
class SamplePool {
 public:
  void report(benchmark::State& state, std::vector<double>& samples) {
    std::unique_lock lock(mMutex);
    mAll.insert(mAll.end(), samples.begin(), samples.end());
    ++mArrived;
    mChanged.notify_all();
    if (state.thread_index() != 0) return;
    if (!mChanged.wait_for(lock, std::chrono::seconds(60), [&] { return mArrived == state.threads(); }))
      state.SkipWithError("the other threads' samples did not arrive within 60 s");
    else
      reportPercentiles(state, mAll);
    mAll.clear();
    mArrived = 0;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<double> mAll;
  int mArrived = 0;
};

// Waits until `next`, then moves it on by one period: one sample every 50 us per thread.
void pace(Clock::time_point& next) {
  next += std::chrono::microseconds(50);
  while (Clock::now() < next) {
  }
}

telemetry::Analytics& engine() {
  static telemetry::Analytics* kit = [] {
    const std::string root =
        (std::filesystem::temp_directory_path() / ("bench-analytics-" + std::to_string(::getpid()))).string();
    telemetry::ANAAnalyticsController::Environment env;
    env.firstInstall = false;
    env.facts = telemetry::ANAMetadata::SDKFacts{"key", "run", "install", "instance"};
    auto* k = new telemetry::Analytics(root, env);
    k->startWithBetaToken(std::nullopt);
    static const std::string folder = root;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    });
    telemetry::Analytics::setSharedInstanceForTesting(k);
    return k;
  }();
  return *kit;
}

void BM_LogCustomEvent(benchmark::State& state) {
  engine();
  std::vector<double> samples;
  samples.reserve(1 << 20);
  // The caller's own attributes are built before the clock starts: their copy is the kit's.
  const nlohmann::ordered_json attributes{{"n", 1}};
  for (auto _ : state) {
    const auto start = Clock::now();
    telemetry::Analytics::logCustomEventWithName("bench", attributes);
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  static SamplePool pool;
  pool.report(state, samples);
  if (state.thread_index() == 0) engine().analyticsController()->drain();
}
// A burst of a fixed size per thread: recorded as fast as the caller can, it outruns the disk,
// and a burst as long as the time budget allows would leave the engine minutes of backlog.
BENCHMARK(BM_LogCustomEvent)->Threads(1)->Threads(8)->Iterations(50000)->UseRealTime();

// The same at a pace the engine's disk writes keep up with (one event every 50 us per
// thread): without a growing backlog the caller's heap is reused instead of freshly faulted in.
void BM_LogCustomEventPaced(benchmark::State& state) {
  engine();
  std::vector<double> samples;
  samples.reserve(1 << 16);
  const nlohmann::ordered_json attributes{{"n", 1}};
  auto next = Clock::now();
  for (auto _ : state) {
    pace(next);
    const auto start = Clock::now();
    telemetry::Analytics::logCustomEventWithName("bench", attributes);
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  static SamplePool pool;
  pool.report(state, samples);
  if (state.thread_index() == 0) engine().analyticsController()->drain();
}
BENCHMARK(BM_LogCustomEventPaced)->Threads(1)->Threads(8)->Iterations(20000)->UseRealTime();

// The floor: an empty std::function called under a mutex; range(0) 1 paces it as the paced
// recording is paced, so its percentiles see the same wake-ups and caches.
void BM_FloorFunctionAndMutex(benchmark::State& state) {
  static std::mutex mutex;
  std::function<void()> empty = [] {};
  std::vector<double> samples;
  samples.reserve(1 << 20);
  const bool paced = state.range(0) == 1;
  auto next = Clock::now();
  for (auto _ : state) {
    if (paced) pace(next);
    const auto start = Clock::now();
    {
      std::lock_guard lock(mutex);
      empty();
    }
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  static SamplePool pool;
  pool.report(state, samples);
}
BENCHMARK(BM_FloorFunctionAndMutex)->Arg(0)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_FloorFunctionAndMutex)->Arg(1)->Threads(1)->Threads(8)->Iterations(20000)->UseRealTime();

// A loopback service that takes every upload and counts the bytes it was sent.
struct Service {
  testsupport::TestCertificateAuthority ca{"Bench Analytics Root"};
  testsupport::HttpsTestServer server{ca, [] {
                                        testsupport::HttpsTestServer::Limits limits;
                                        limits.maxConnections = 4096;
                                        return limits;
                                      }()};
  std::mutex mutex;
  std::condition_variable cond;
  size_t requests = 0;
  size_t bytes = 0;
  Service() {
    telemetry::TELSetPinnedCertificatesForTesting(
        telemetry::CertificateList{telemetry::Certificate::createWithData(ca.rootDER())});
    server.setHandler([this](const testsupport::HttpsTestRequest& r) {
      std::lock_guard lock(mutex);
      ++requests;
      bytes += r.body.size();
      cond.notify_all();
      return testsupport::HttpsTestResponse::withStatus(202);
    });
  }
  ~Service() { telemetry::TELSetPinnedCertificatesForTesting(std::nullopt); }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex);
    return cond.wait_for(lock, std::chrono::seconds(120), [&] { return requests >= count; });
  }
  std::string url() const { return server.origin() + "/spi/v2/events"; }
};

std::string freshFolder(const std::string& name) {
  static int counter = 0;
  auto path = std::filesystem::temp_directory_path() /
              ("bench-analytics-" + std::to_string(::getpid()) + "-" + name + "-" + std::to_string(++counter));
  std::filesystem::create_directories(path);
  return path.string();
}

std::shared_ptr<telemetry::ANAAnalyticsController> makeEngine(const std::string& root) {
  telemetry::ANAAnalyticsController::Environment env;
  env.firstInstall = false;
  env.facts = telemetry::ANAMetadata::SDKFacts{"key", "run", "install", "instance"};
  return telemetry::ANAAnalyticsController::initWithBetaToken(std::nullopt, root, env);
}

// The settings download: from here on the engine sends.
void applySettings(telemetry::ANAAnalyticsController& engine, const std::string& url) {
  engine.initializeSettingsIfNeededWithTelemetrySettings(std::make_shared<const nlohmann::json>(
      nlohmann::json{{"features", {{"collect_analytics", true}}},
                     {"analytics", {{"url", url}, {"max_pending_send_file_count", 100000}}}}));
}

std::shared_ptr<telemetry::ANAAnalyticsController> makeEngine(const std::string& root, const std::string& url) {
  auto engine = makeEngine(root);
  applySettings(*engine, url);
  return engine;
}

// Until the engine's queue is empty and nothing waits for an answer.
void settle(telemetry::ANAAnalyticsController& engine) {
  for (;;) {
    engine.drain();
    if (engine.uploader()->namesInFlight().empty() && engine.eventQueue()->operationCount() == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

constexpr int kWriterThreads = 8;
constexpr int kEventsPerThread = 5000;

void BM_EventsSustainedToDisk(benchmark::State& state) {
  Service service;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = freshFolder("disk");
    auto engine = makeEngine(root, service.url());
    engine->drain();
    state.ResumeTiming();
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriterThreads; ++t)
      threads.emplace_back([&engine, t] {
        for (int i = 0; i < kEventsPerThread; ++i)
          engine->logEvent(telemetry::ANACustomEvent::create("bench", nlohmann::ordered_json{{"t", t}, {"i", i}}));
      });
    for (auto& thread : threads) thread.join();
    engine->drain();  // every event is in a log file (or already packaged)
    state.PauseTiming();
    settle(*engine);
    engine.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kWriterThreads * kEventsPerThread);
}
BENCHMARK(BM_EventsSustainedToDisk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_FloorOpenAppendClose(benchmark::State& state) {
  const std::string folder = freshFolder("floor");
  const auto line = telemetry::ANAWriteEventOperation::formatLine(
      1700000000000, "custom", nlohmann::ordered_json{{"eventId", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"},
                                                      {"name", "bench"}, {"t", 1}, {"i", 1}});
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriterThreads; ++t)
      threads.emplace_back([&, t] {
        const std::string path = folder + "/floor-" + std::to_string(t) + ".log";
        for (int i = 0; i < kEventsPerThread; ++i) {
          int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
          if (fd < 0) continue;
          if (::write(fd, line->data(), line->size()) < 0) state.SkipWithError("write failed");
          ::close(fd);
        }
      });
    for (auto& thread : threads) thread.join();
  }
  state.SetItemsProcessed(state.iterations() * kWriterThreads * kEventsPerThread);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_FloorOpenAppendClose)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Logs of about `bytes` each, written as the engine writes them.
void writeLogs(const std::string& events, int count, size_t bytes) {
  std::filesystem::create_directories(events);
  for (int n = 0; n < count; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "%08X-0000-4000-8000-%012X.log", n + 1, n + 1);
    std::ofstream out(events + "/" + name, std::ios::binary);
    size_t written = 0;
    for (int i = 0; written < bytes; ++i) {
      auto line = telemetry::ANAWriteEventOperation::formatLine(
          1700000000000 + static_cast<uint64_t>(i), "custom",
          nlohmann::ordered_json{{"eventId", telemetry::ANACustomEvent::create("x")->identifier()}, {"i", i}});
      out << *line;
      written += line->size();
    }
  }
}

// Packages as the engine leaves them when it cannot send yet (no endpoint): made from logs of
// about `bytes` each by an engine without settings. Answers the root holding them.
std::string preparePackages(int count, size_t bytes) {
  const std::string root = freshFolder("packages");
  writeLogs(telemetry::ANAAnalyticsController::eventDirectoryForRootDirectory(root), count, bytes);
  makeEngine(root)->drain();
  return root;
}

std::vector<std::string> packagesIn(const std::string& root) {
  std::vector<std::string> packages;
  for (const auto& e :
       std::filesystem::directory_iterator(telemetry::ANAAnalyticsController::eventDirectoryForRootDirectory(root)))
    if (e.path().extension() == ".multipartmime") packages.push_back(e.path().string());
  return packages;
}

// A launch finds the packages a previous run left and, once its settings arrive, sends them
// all at once (the engine's start is not timed).
void BM_UploadThroughEngine(benchmark::State& state) {
  Service service;
  const std::string made = preparePackages(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  const size_t count = packagesIn(made).size();
  size_t sent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = freshFolder("upload");
    std::filesystem::copy(made, root, std::filesystem::copy_options::recursive);
    auto engine = makeEngine(root);
    engine->drain();
    const size_t before = service.requests, bytesBefore = service.bytes;
    state.ResumeTiming();
    applySettings(*engine, service.url());
    if (!service.waitFor(before + count)) state.SkipWithError("uploads did not arrive");
    state.PauseTiming();
    settle(*engine);
    engine.reset();
    sent += service.bytes - bytesBefore;
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(sent));
  state.counters["packages"] = static_cast<double>(count);
  std::error_code ignored;
  std::filesystem::remove_all(made, ignored);
}
BENCHMARK(BM_UploadThroughEngine)->Args({64, 8 << 10})->Args({8, 1 << 20})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The floor: the packages the engine made, sent by upload tasks of one session, all at once.
class PinnedDelegate : public telemetry::URLSessionDelegate {
 public:
  explicit PinnedDelegate(std::shared_ptr<telemetry::TELCertificatePinner> pinner) : mPinner(std::move(pinner)) {}
  void URLSessionDidReceiveChallenge(telemetry::CRKURLSession& session,
                                     const telemetry::URLAuthenticationChallenge& challenge,
                                     ChallengeCompletion completion) override {
    mPinner->handleChallenge(challenge, &session, completion);
  }

 private:
  std::shared_ptr<telemetry::TELCertificatePinner> mPinner;
};

void BM_FloorUploadTasks(benchmark::State& state) {
  Service service;
  const std::string root = preparePackages(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  const std::vector<std::string> packages = packagesIn(root);
  auto delegate = std::make_shared<PinnedDelegate>(
      std::make_shared<telemetry::TELCertificatePinner>(telemetry::TELPinnedCertificates()));
  size_t sent = 0;
  for (auto _ : state) {
    const size_t before = service.requests, bytesBefore = service.bytes;
    // A fresh session, as each launch of the engine has: no connection is reused.
    auto session = telemetry::CRKURLSession::sessionWithConfiguration(
        telemetry::CRKURLSessionConfiguration::defaultSessionConfiguration(), delegate);
    for (const auto& path : packages) {
      const std::string boundary = std::filesystem::path(path).stem().string();
      telemetry::URLRequest request(service.url(), 60);
      request.setHTTPMethod("POST");
      request.setValue("multipart/form-data; boundary=" + boundary, "Content-Type");
      session->uploadTaskWithRequest(request, path)->resume();
    }
    if (!service.waitFor(before + packages.size())) state.SkipWithError("uploads did not arrive");
    sent += service.bytes - bytesBefore;
    state.PauseTiming();
    session->invalidateAndCancel();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(sent));
  state.counters["packages"] = static_cast<double>(packages.size());
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}
BENCHMARK(BM_FloorUploadTasks)->Args({64, 8 << 10})->Args({8, 1 << 20})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
