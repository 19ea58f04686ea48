// Starting the crash reporting controller on the calling thread with 20 earlier non-urgent
// reports waiting, beside the same start with none (the floor), the two launched in turn. A process makes its crash
// context once, so every start runs in a child of its own and only the start is timed; the
// work the start hands to the work queue runs on while the child reports its time.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_settings.h"
#include "platform/core/run_loop.h"
#include "sdk/identity/main_bundle.h"
#include "../tests/crash/support/submitting_crash_delegate.h"

namespace {

using namespace telemetry;


// An earlier run's folder as a crash leaves it: metadata, images, the crash record, a log.
void writeEarlierReport(const CRKFileManager& tree, int index) {
  char id[33];
  std::snprintf(id, sizeof id, "%032x", index + 1);
  const std::string folder = tree.activePath() + "/" + id;
  tree.createDirectoryAtPath(folder);
  std::ofstream(folder + "/metadata.crkrecord")
      << R"({"identity":{"generator":"CrashKit Mac SDK","display_version":"3.8.2","build_version":"118","started_at":1700000000,"session_id":")"
      << id << R"(","install_id":"bench-install","api_key":"bench-api-key"}})" "\n"
      << R"({"host":{"model":"bench","machine":"x86_64","cpu_count":8,"os_build_version":"6.1","os_display_version":"12"}})" "\n"
      << R"({"application":{"bundle_id":"org.orrery.bench","build_version":"1","display_version":"1.0"}})" "\n";
  std::ofstream images(folder + "/binary_images.crkrecord");
  for (int i = 0; i < 40; ++i)
    images << R"({"load":{"path":"/usr/lib/x86_64-linux-gnu/lib)" << i << R"(.so","uuid":"0123456789abcdef0123456789abcdef","base":)"
           << (0x7f0000000000ull + static_cast<unsigned long long>(i) * 0x100000) << R"(,"size":1048576}})" "\n";
  std::ofstream crash(folder + "/signal.crkrecord");
  crash << R"({"signal":{"number":11,"code":1,"address":0}})" "\n" R"({"threads":[)";
  for (int t = 0; t < 8; ++t) {
    crash << (t ? "," : "") << R"({"crashed":)" << (t == 0 ? "true" : "false") << R"(,"stacktrace":[)";
    for (int f = 0; f < 32; ++f) crash << (f ? "," : "") << 0x7f0000001000ull + static_cast<unsigned long long>(f) * 64;
    crash << "]}";
  }
  crash << "]}\n";
  std::ofstream(folder + "/sdk.log") << "INFO  Crash reporting started\n";
}

struct Timing {
  double wall = -1;  // seconds; negative when the start failed
  double cpu = 0;    // seconds of the calling thread's processor time
};

double threadCPUSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// In a child: makes the tree, then times one start.
Timing startOnce(const std::string& root, int earlier) {
  setenv("CrashKitReportsEndpoint", "https://127.0.0.1:1", 1);
  MainBundle::shared().setInfoDictionary(nlohmann::json{{"CFBundleIdentifier", "org.orrery.bench"}});
  platform::installMainQueuePoster(std::make_shared<platform::RunLoop>());
  auto tree = std::make_shared<CRKFileManager>(root);
  if (!tree->prepareForNewLaunch()) return {};
  for (int i = 0; i < earlier; ++i) writeEarlierReport(*tree, i);
  auto delegate = std::make_shared<crashtest::SubmittingCrashDelegate>("bench-api-key", "bench-install");
  auto controller = CRKCrashReportingController::create(tree, delegate);
  controller->setExecutionIdentifier("ffffffffffffffffffffffffffffffff");
  const double cpuBegin = threadCPUSeconds();
  const auto begin = std::chrono::steady_clock::now();
  const bool started = controller->startWithProfilingMark(CRKProfileMark(), std::nullopt);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
  if (!started) return {};
  return {elapsed.count(), threadCPUSeconds() - cpuBegin};
}

// One start in a child process of its own, with `earlier` reports waiting; a negative wall
// time when it failed.
Timing startInChild(int earlier) {
  char folder[] = "/tmp/bench-crash-controller-XXXXXX";
  if (!mkdtemp(folder)) return {};
  const std::string root = folder;
  Timing timing;
  int pipeFds[2];
  if (pipe(pipeFds) == 0) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipeFds[0]);
      const Timing child = startOnce(root, earlier);
      if (write(pipeFds[1], &child, sizeof child) != sizeof child) _exit(2);
      _exit(0);
    }
    close(pipeFds[1]);
    if (pid < 0 || read(pipeFds[0], &timing, sizeof timing) != sizeof timing) timing = {};
    close(pipeFds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return timing;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Each start with 20 earlier reports is paired with a start with none right before it, so a
// load that moves during the run moves both: "floor_ms" is the median of the floors, and
// "over_floor_ms" the median of each pair's difference.
void BM_ControllerStartWith20EarlierReports(benchmark::State& state) {
  std::vector<double> floors, overFloor;
  double cpu = 0, floorCpu = 0;
  for (auto _ : state) {
    const Timing floor = startInChild(0);
    const Timing timing = startInChild(20);
    if (timing.wall < 0 || floor.wall < 0) {
      state.SkipWithError("the controller did not start");
      break;
    }
    state.SetIterationTime(timing.wall);
    floors.push_back(floor.wall * 1e3);
    overFloor.push_back((timing.wall - floor.wall) * 1e3);
    cpu += timing.cpu;
    floorCpu += floor.cpu;
  }
  if (floors.empty()) return;
  const double n = static_cast<double>(floors.size());
  state.counters["floor_ms"] = median(floors);
  state.counters["over_floor_ms"] = median(overFloor);
  // The calling thread's own processor time per start, apart from waits on other threads.
  state.counters["start_cpu_ms"] = cpu * 1e3 / n;
  state.counters["floor_cpu_ms"] = floorCpu * 1e3 / n;
}
BENCHMARK(BM_ControllerStartWith20EarlierReports)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
