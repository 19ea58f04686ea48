// Costs of the telemetry SDK's foundations: queues and operations, the executable reader,
// identity, property lists, pinning and multipart bodies.

#include <benchmark/benchmark.h>

#include <atomic>

#include "sdk/binary/elf_reader.h"
#include "sdk/core/operation_queue.h"
#include "sdk/core/property_list.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/net/tel_async_operation.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "sdk/pinning/tel_pinned_certificates.h"

using namespace telemetry;

namespace {

class FinishOnAnotherThread : public TELAsyncOperation {
 public:
  void main() override { finishWithError(std::nullopt); }
};

}  // namespace

// Block operations through a serial queue, start to finish.
static void BM_SerialQueueBlockOperations(benchmark::State& state) {
  OperationQueue queue("bench.serial", 1);
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::atomic<int> done{0};
    for (int i = 0; i < n; ++i) queue.addOperationWithBlock([&] { done.fetch_add(1, std::memory_order_relaxed); });
    queue.waitUntilAllOperationsAreFinished();
    benchmark::DoNotOptimize(done.load());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SerialQueueBlockOperations)->Arg(1000);

// Asynchronous operations on a concurrent queue.
static void BM_ConcurrentQueueAsyncOperations(benchmark::State& state) {
  OperationQueue queue("bench.concurrent", 4);
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) queue.addOperation(std::make_shared<FinishOnAnotherThread>());
    queue.waitUntilAllOperationsAreFinished();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ConcurrentQueueAsyncOperations)->Arg(1000);

// Opening the running executable and reading its facts and unwind section.
static void BM_ReadRunningExecutable(benchmark::State& state) {
  for (auto _ : state) {
    ExecutableFile file;
    openRunningExecutable(&file);
    int images = 0;
    enumerateExecutableImages(file, [&](const ExecutableImageFacts&) { ++images; });
    TELElfImage image = TELElfImageOfFile(&file);
    TELElfSection section;
    TELElfGetSection(&image, ".eh_frame", &section);
    closeExecutableFile(&file);
    benchmark::DoNotOptimize(images);
  }
}
BENCHMARK(BM_ReadRunningExecutable);

// The identity model as start-up builds it.
static void BM_ApplicationIdentityModel(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TELApplicationIdentiferModel::create("install"));
}
BENCHMARK(BM_ApplicationIdentityModel);

// A defaults-store sized property list written and read back.
static void BM_PropertyListRoundTrip(benchmark::State& state) {
  nlohmann::json values = nlohmann::json::object();
  for (int i = 0; i < state.range(0); ++i) values["key" + std::to_string(i)] = TELGenerateUUIDString();
  for (auto _ : state) benchmark::DoNotOptimize(plist::parse(plist::serialize(values)));
}
BENCHMARK(BM_PropertyListRoundTrip)->Arg(10)->Arg(1000);

static void BM_SHA1OfOneMegabyte(benchmark::State& state) {
  std::vector<uint8_t> data(1 << 20, 0x5a);
  for (auto _ : state) benchmark::DoNotOptimize(TELSHA1HexStringFromData(data));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_SHA1OfOneMegabyte);

// One trust evaluation against the eight pinned roots.
static void BM_PinnedTrustEvaluation(benchmark::State& state) {
  TELCertificatePinner pinner(TELPinnedCertificates());
  auto presented = TELPinnedCertificates()[2];
  for (auto _ : state) {
    ServerTrust trust({presented}, "");
    TrustResult result;
    benchmark::DoNotOptimize(pinner.evaluateTrust(trust, result));
  }
}
BENCHMARK(BM_PinnedTrustEvaluation);

// An onboarding-sized form with a one-megabyte file part, into memory.
static void BM_MultipartBodyInMemory(benchmark::State& state) {
  std::vector<uint8_t> file(1 << 20, 0x42);
  for (auto _ : state) {
    URLRequest request("https://example.test");
    TELMultipartMimeStreamEncoder::populateRequest(request, [&](TELMultipartMimeStreamEncoder& e) {
      for (int i = 0; i < 15; ++i) e.addValue("value", "app[field" + std::to_string(i) + "]");
      e.addFileData(file, "icon.png", std::string("image/png"), "app[icon][data]");
    });
    benchmark::DoNotOptimize(request.HTTPBody().size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_MultipartBodyInMemory);

BENCHMARK_MAIN();
