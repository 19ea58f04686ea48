// Costs of signal capture: a crash's time from the fault to the process's exit with the
// kit recording it (every thread parked and unwound) in turns with the same crash without the
// kit, with 64 threads and with 1; and arming the handlers beside the bare system calls.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_signal.h"
#include "interleaved_floor.h"

using namespace telemetry;

namespace {

constexpr int kCrashes = 100;

uint64_t nowNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

std::string scratchFolder() {
  char templ[] = "/tmp/orrery-bench-crash-signals-XXXXXX";
  const char* made = mkdtemp(templ);
  return made ? made : "";
}

// Whether the crash left a signal record that names the fault and lists every thread with
// its registers, and clears the folder for the next crash.
bool takeSignalRecord(const std::string& folder, int threads) {
  const std::filesystem::path record = std::filesystem::path(folder) / "signal.crkrecord";
  std::ifstream in(record);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    std::filesystem::remove_all(entry.path(), error);
  const auto count = [&](const char* key) {
    int n = 0;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++n;
    return n;
  };
  // The kit's own queue threads are listed too.
  const int listed = count("\"stacktrace\"");
  return text.find("\"signal\"") != std::string::npos && text.find("\"number\":11") != std::string::npos &&
         listed >= threads && count("\"registers\"") == listed;
}

volatile int* gNull = nullptr;

// The child: parks threads - 1 threads, arms the kit when asked, says when it faults.
[[noreturn]] void crashChild(int threads, const char* kitFolder, int reportFd) {
  rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
  for (int s : kCRKHandledSignals) signal(s, SIG_DFL);
  static std::mutex m;
  static std::condition_variable cv;
  static int parked = 0;
  for (int i = 1; i < threads; ++i) {
    std::thread([] {
      std::unique_lock lock(m);
      ++parked;
      cv.notify_all();
      cv.wait(lock, [] { return false; });
    }).detach();
  }
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return parked == threads - 1; });
  }
  if (kitFolder) {
    CRKContextInitData data;
    data.reportPath = kitFolder;
    CRKContextInitialize(&data);
  }
  const uint64_t at = nowNanoseconds();
  if (write(reportFd, &at, sizeof at) != sizeof at) _exit(3);
  *gNull = 1;
  _exit(4);
}

// One crash: milliseconds from the fault to the child's exit, negative when the child did not
// fault as it should.
double crashToExitMs(int threads, const char* kitFolder) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    crashChild(threads, kitFolder, fds[1]);
  }
  close(fds[1]);
  uint64_t at = 0;
  const bool got = read(fds[0], &at, sizeof at) == sizeof at;
  int status = 0;
  waitpid(pid, &status, 0);
  const uint64_t end = nowNanoseconds();
  close(fds[0]);
  if (!got || !WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV) return -1;
  return static_cast<double>(end - at) / 1e6;
}

// Crashes with the kit in turns with the same crash without it, so that the time the kit adds
// ("added_ms", "added_p99_ms") comes from crashes that ran back to back.
void BM_CrashToExit(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  // One folder for the run: each crash's record is checked, then cleared.
  const std::string folder = scratchFolder();
  if (folder.empty()) return state.SkipWithError("no scratch folder");
  benchpairs::Pairs pairs;
  bool faulted = true;
  bool recorded = true;
  for (auto _ : state) {
    for (int i = 0; i < kCrashes && faulted && recorded; ++i) {
      const double kit = crashToExitMs(threads, folder.c_str());
      // A crash the kit did not record is no measure of recording.
      recorded = takeSignalRecord(folder, threads);
      const double bare = crashToExitMs(threads, nullptr);
      faulted = kit >= 0 && bare >= 0;
      pairs.measureMs.push_back(kit);
      pairs.floorMs.push_back(bare);
    }
  }
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (!faulted) return state.SkipWithError("no crash");
  if (!recorded) return state.SkipWithError("a crash left no full signal record");
  pairs.report(state);
  state.counters["p50_ms"] = benchpairs::quantile(pairs.measureMs, 0.5);
  state.counters["p99_ms"] = benchpairs::quantile(pairs.measureMs, 0.99);
  state.counters["floor_p99_ms"] = benchpairs::quantile(pairs.floorMs, 0.99);
  state.counters["added_p99_ms"] = benchpairs::quantile(pairs.addedMs(), 0.99);
}
BENCHMARK(BM_CrashToExit)
    ->Arg(1)
    ->Arg(64)
    ->ArgName("threads")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Puts the default actions back between runs (not measured).
void resetSignals() {
  for (int s : kCRKHandledSignals) signal(s, SIG_DFL);
  if (CRKContext* c = CRKContextGet(); c && c->signal.handshakeSignal) signal(c->signal.handshakeSignal, SIG_DFL);
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
}

void BM_SignalInitialize(benchmark::State& state) {
  if (!CRKContextGet()) {
    // The context lives for the process and writes its records here: removed as the run ends.
    static const std::string folder = scratchFolder();
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(folder, error);
    });
    CRKContextInitData data;
    data.reportPath = folder.c_str();
    CRKContextInitialize(&data);
  }
  CRKContextDeinitialize();  // writable again: arming stores the prior actions in it
  for (auto _ : state) {
    state.PauseTiming();
    resetSignals();
    state.ResumeTiming();
    CRKSignalInstallAltStack();
    CRKSignalInitialize();
  }
  resetSignals();
}
BENCHMARK(BM_SignalInitialize)->Unit(benchmark::kMicrosecond);

void BM_BareSigaltstackAndSigaction(benchmark::State& state) {
  static char stack[0x40000];
  for (auto _ : state) {
    state.PauseTiming();
    resetSignals();
    state.ResumeTiming();
    stack_t s{};
    s.ss_sp = stack;
    s.ss_size = sizeof stack;
    sigaltstack(&s, nullptr);
    for (int sig : kCRKHandledSignals) {
      struct sigaction a {};
      a.sa_handler = SIG_DFL;
      a.sa_flags = SA_SIGINFO | SA_ONSTACK;
      sigemptyset(&a.sa_mask);
      struct sigaction prior {};
      sigaction(sig, &a, &prior);
    }
  }
  resetSignals();
}
BENCHMARK(BM_BareSigaltstackAndSigaction)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
