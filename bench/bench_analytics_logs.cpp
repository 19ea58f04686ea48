// How fast events reach their log, and how fast a finished log becomes an upload package,
// each beside the floor of the bare system calls doing the same bytes.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sdk/analytics/ana_compress_log_operation.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_metadata.h"
#include "sdk/analytics/ana_package_log_operation.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/core/operation_queue.h"

namespace {

using namespace telemetry;

// A fresh folder under the system's temporary folder, removed at the end.
struct BenchFolder {
  std::string path;
  BenchFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "bench-analytics-XXXXXX").string();
    path = ::mkdtemp(templ.data()) ? templ : std::string();
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

constexpr int64_t kBatch = 64;

std::shared_ptr<ANAMetadata> benchMetadata() {
  return std::make_shared<ANAMetadata>(ANAMetadata::SDKFacts{"key", "run", "install", "instance"}, std::nullopt);
}

std::shared_ptr<ANACustomEvent> threeAttributeEvent(int64_t i) {
  return ANACustomEvent::create("document_opened", {{"size", i}, {"kind", "map"}, {"source", "recent list"}});
}

// Build, format and append one custom event per iteration through the serial queue. The
// producer waits for the queue after every batch, as a burst of application events would.
void BM_WriteEventOperationOnSerialQueue(benchmark::State& state) {
  BenchFolder folder;
  const std::string log = folder.path + "/events.log";
  auto metadata = benchMetadata();
  OperationQueue queue("bench.analytics.EventQueue", 1);
  int64_t i = 0;
  for (auto _ : state) {
    queue.addOperation(std::make_shared<ANAWriteEventOperation>(threeAttributeEvent(++i), metadata, log));
    if (i % kBatch == 0) queue.waitUntilAllOperationsAreFinished();
  }
  queue.waitUntilAllOperationsAreFinished();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteEventOperationOnSerialQueue)->UseRealTime();

// The floor: open, append and close the same pre-formatted line.
void BM_OpenAppendCloseFloor(benchmark::State& state) {
  BenchFolder folder;
  const std::string log = folder.path + "/events.log";
  const std::string line =
      *ANAWriteEventOperation::formatLine(1700000000000, "custom", threeAttributeEvent(1)->dictionaryRepresentation());
  for (auto _ : state) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenAppendCloseFloor)->UseRealTime();

std::string eightThousandBytesOfLog() {
  auto metadata = benchMetadata();
  std::string text;
  for (int64_t i = 0; text.size() < 8000; ++i) {
    auto event = threeAttributeEvent(i);
    text += *ANAWriteEventOperation::formatLine(1700000000000 + i, "custom", event->dictionaryRepresentation());
  }
  return text.substr(0, 8000);
}

// One 8000-byte log to its package: compress, package, the renames of both stages.
void BM_LogToPackage(benchmark::State& state) {
  BenchFolder folder;
  const std::string text = eightThousandBytesOfLog();
  const std::string log = folder.path + "/log.log";
  const std::string gz = folder.path + "/log.gz";
  const std::string package = folder.path + "/B.multipartmime";
  int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
  for (auto _ : state) {
    ANACompressLogOperation compress(log, gz);
    compress.start();
    ANAPackageLogOperation pack(gz, package, "B");
    pack.start();
    if (!compress.success() || !pack.success()) state.SkipWithError("a stage failed");
    state.PauseTiming();
    ::unlink(gz.c_str());
    ::unlink(package.c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LogToPackage)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The floor: gzopen, gzwrite and gzclose of the same bytes into a new file.
void BM_GzipFloor(benchmark::State& state) {
  BenchFolder folder;
  const std::string text = eightThousandBytesOfLog();
  const std::string gz = folder.path + "/floor.gz";
  for (auto _ : state) {
    gzFile f = gzopen(gz.c_str(), "w");
    gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
    gzclose(f);
    state.PauseTiming();
    ::unlink(gz.c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GzipFloor)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
