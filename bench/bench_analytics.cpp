// The cost of recording one custom event on the calling thread with the engine running (its
// queue writing and rotating logs behind), beside the floor of an empty std::function call
// plus a mutex lock. Latency percentiles are reported as counters (nanoseconds).

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

#include "sdk/analytics/analytics.h"

namespace {

using Clock = std::chrono::steady_clock;

void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters["p50_ns"] = samples[samples.size() / 2];
  state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
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
  for (auto _ : state) {
    const auto start = Clock::now();
    telemetry::Analytics::logCustomEventWithName("bench", nlohmann::ordered_json{{"n", 1}});
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  reportPercentiles(state, samples);
  if (state.thread_index() == 0) engine().analyticsController()->drain();
}
BENCHMARK(BM_LogCustomEvent)->Threads(1)->Threads(8)->UseRealTime();

void BM_FloorFunctionAndMutex(benchmark::State& state) {
  static std::mutex mutex;
  std::function<void()> empty = [] {};
  std::vector<double> samples;
  samples.reserve(1 << 20);
  for (auto _ : state) {
    const auto start = Clock::now();
    {
      std::lock_guard lock(mutex);
      empty();
    }
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  reportPercentiles(state, samples);
}
BENCHMARK(BM_FloorFunctionAndMutex)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
