// Symbolication of a 64-thread × 32-frame report of this program's own functions, beside
// bare dladdr on the same addresses (the floor).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "crash/crk_binary_image.h"
#include "crash/crk_symbolication.h"

namespace {

using namespace telemetry;

struct Setup {
  std::string folder;
  std::string imagesPath;
  std::vector<uint64_t> addresses;
  ~Setup() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
  Setup() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&benchmark::Initialize), &info);
    CRKBinaryImageDetails details;
    const uint64_t header = reinterpret_cast<uint64_t>(info.dli_fbase);
    CRKBinaryImageFillDetails(info.dli_fbase, header, "bench", &details);
    char made[] = "/tmp/bench-symbolication-XXXXXX";
    if (mkdtemp(made)) folder = made;
    imagesPath = folder + "/binary_images.crkrecord";
    if (FILE* file = std::fopen(imagesPath.c_str(), "w")) {
      std::fprintf(file, "{\"load\":{\"path\":\"bench\",\"uuid\":\"%s\",\"base\":%llu,\"size\":%llu}}\n", details.uuid,
                   static_cast<unsigned long long>(header), static_cast<unsigned long long>(details.node.textSize));
      std::fclose(file);
    }
    // Spread over the text: 2048 addresses, one every 97 bytes from the first function seen.
    const uint64_t start = reinterpret_cast<uint64_t>(&benchmark::Initialize);
    for (int i = 0; i < 64 * 32; ++i) addresses.push_back(start + 16 + static_cast<uint64_t>(i) * 97 % 0x20000);
  }
};

const Setup& setup() {
  static const Setup instance;
  return instance;
}

void BM_SymbolicateReport(benchmark::State& state) {
  const Setup& s = setup();
  for (auto _ : state) {
    CRKSymbolResolver resolver;
    resolver.loadBinaryImagesFromFile(s.imagesPath);
    CRKThreadArray threads(64);
    for (size_t i = 0; i < s.addresses.size(); ++i)
      threads[i / 32].push_back(CRKStackFrame::stackFrameWithAddress(s.addresses[i]));
    CRKSymbolicationOperation(&threads, &resolver).main();
    CRKDemangleOperation(&threads).main();
    benchmark::DoNotOptimize(threads);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.addresses.size()));
}
BENCHMARK(BM_SymbolicateReport);

void BM_BareDladdr(benchmark::State& state) {
  const Setup& s = setup();
  for (auto _ : state) {
    for (uint64_t address : s.addresses) {
      Dl_info info{};
      benchmark::DoNotOptimize(dladdr(reinterpret_cast<void*>(address), &info));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.addresses.size()));
}
BENCHMARK(BM_BareDladdr);

}  // namespace

BENCHMARK_MAIN();
