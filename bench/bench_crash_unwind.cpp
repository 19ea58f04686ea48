// Costs of crash capture: unwinding a deep -O2 stack beside glibc's backtrace(), and
// building the crash context beside a bare walk of the loaded images' build-ids.

#include <benchmark/benchmark.h>
#include <execinfo.h>
#include <link.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include "crash/crk_context.h"
#include "crash/crk_log.h"
#include "crash/crk_unwind.h"
#include "sdk/binary/elf_reader.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace telemetry;

namespace {

constexpr int kDepth = 64;

// Filled once; plain storage so the exit handler never sees a destroyed string.
char gReportFolder[64] = "";

void removeReportFolder() {
  std::error_code error;
  std::filesystem::remove_all(gReportFolder, error);
}

std::string reportFolder() {
  if (gReportFolder[0] == '\0') {
    std::strcpy(gReportFolder, "/tmp/orrery-bench-crash-XXXXXX");
    // The context writes its records here; nothing of them is kept after the run.
    if (mkdtemp(gReportFolder)) {
      std::atexit(removeReportFolder);
    } else {
      std::strcpy(gReportFolder, "/tmp");
    }
  }
  return gReportFolder;
}

void ensureContext() {
  if (CRKContextIsInitialized()) return;
  const std::string folder = reportFolder();
  CRKContextInitData data;
  data.reportPath = folder.c_str();
  CRKContextInitialize(&data);
}

// Recurses to kDepth frames, then runs the measured body at the bottom.
__attribute__((noinline)) int descend(int depth, const std::function<void()>& body) {
  if (depth == 0) {
    body();
    return 0;
  }
  const int r = descend(depth - 1, body) + 1;
  benchmark::DoNotOptimize(r);
  return r;
}

}  // namespace

// The crash reporter's unwinder over the whole stack (64 frames and the benchmark's own),
// with its log buffered as it is while a crash is recorded.
static void BM_UnwindDeepStack(benchmark::State& state) {
  ensureContext();
  CRKSDKLogBeginCrashBuffering();
  int64_t frames = 0;
  descend(kDepth, [&] {
    for (auto _ : state) {
      CRKThreadContext context;
      CRKThreadContextCaptureCaller(&context);
      CRKUnwindCursor cursor;
      CRKUnwindInitFromReturnAddress(&cursor, &context);
      int n = 0;
      while (CRKUnwindNextFrame(&cursor)) ++n;
      frames += n;
      benchmark::DoNotOptimize(n);
    }
  });
  CRKSDKLogFlushCrashBuffer();
  state.SetItemsProcessed(frames);  // items = frames: time per item is the cost per frame
}
BENCHMARK(BM_UnwindDeepStack);

static void BM_GlibcBacktraceDeepStack(benchmark::State& state) {
  int64_t frames = 0;
  descend(kDepth, [&] {
    for (auto _ : state) {
      void* buffer[256];
      const int n = backtrace(buffer, 256);
      frames += n;
      benchmark::DoNotOptimize(buffer);
    }
  });
  state.SetItemsProcessed(frames);
}
BENCHMARK(BM_GlibcBacktraceDeepStack);

// Start-up of the crash context on the calling thread (a new mapping each time).
static void BM_CRKContextInitialize(benchmark::State& state) {
  const std::string folder = reportFolder();
  for (auto _ : state) {
    CRKContextInitData data;
    data.reportPath = folder.c_str();
    benchmark::DoNotOptimize(CRKContextInitialize(&data));
  }
}
BENCHMARK(BM_CRKContextInitialize)->Unit(benchmark::kMillisecond)->Iterations(10);

static void BM_DlIteratePhdrBuildIDs(benchmark::State& state) {
  for (auto _ : state) {
    size_t total = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
            const auto header = reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr -
                                                              info->dlpi_phdr[i].p_offset);
            TELElfImage image = TELElfImageWithHeader(header);
            uint8_t id[64];
            *static_cast<size_t*>(data) += TELElfGetBuildID(&image, id, sizeof id);
            break;
          }
          return 0;
        },
        &total);
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_DlIteratePhdrBuildIDs)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
