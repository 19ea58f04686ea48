#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_recording_arena.h"

namespace telemetry {
namespace {

struct Block {
  unsigned char* bytes;
  std::size_t size;
  unsigned char fill;
};

bool intact(const Block& b) {
  for (std::size_t i = 0; i < b.size; ++i)
    if (b.bytes[i] != b.fill) return false;
  return true;
}

// Recorders allocate on their own threads while another thread frees, as the event queue
// does; their slabs fill, retire and come back as spares. No block may share memory with
// another live one, which a slab handed out again too early would cause.
TEST(AnalyticsRecordingArena, BlocksFreedOnAnotherThreadKeepTheirBytesUntilFreedAndSlabsReturn) {
  constexpr int kRecorders = 4, kEach = 20000;
  std::mutex mutex;
  std::vector<Block> live;
  std::vector<std::thread> recorders;
  for (int r = 0; r < kRecorders; ++r)
    recorders.emplace_back([&, r] {
      for (int i = 0; i < kEach; ++i) {
        // Mostly small, now and then past the slab limit.
        const std::size_t size = i % 997 == 0 ? ANARecordingArena::kLargestSlabAllocation + 1 : 1 + (i * 37 + r) % 300;
        auto* bytes = static_cast<unsigned char*>(ANARecordingArena::allocate(size));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % alignof(std::max_align_t), 0u);
        const auto fill = static_cast<unsigned char>(r * 50 + i % 50);
        std::memset(bytes, fill, size);
        std::lock_guard lock(mutex);
        live.push_back({bytes, size, fill});
      }
    });
  std::thread freer([&] {
    for (int freed = 0; freed < kRecorders * kEach;) {
      std::vector<Block> batch;
      {
        std::lock_guard lock(mutex);
        // Free the older half, keep the rest alive a while longer.
        const std::size_t n = live.size() / 2 + (live.size() == 1);
        batch.assign(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(n));
        live.erase(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(n));
      }
      for (const auto& b : batch) {
        ASSERT_TRUE(intact(b)) << "a block was overwritten while it lived";
        ANARecordingArena::deallocate(b.bytes);
      }
      freed += static_cast<int>(batch.size());
      if (batch.empty()) std::this_thread::yield();
    }
  });
  for (auto& t : recorders) t.join();
  freer.join();
#if !defined(__SANITIZE_ADDRESS__)  // there every block comes from the heap
  ANARecordingArena::waitForSpares();
  // About 15 MiB went through: the slabs came back, but only a few are kept.
  EXPECT_GT(ANARecordingArena::spareSlabCount(), 0u);
  EXPECT_LE(ANARecordingArena::spareSlabCount(), 8u);
#endif
}

long minorFaultsOfThisThread() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

// What a recorder holds on to while the queue is behind never touches a page for the first
// time on the recorder: the pages of its slabs were put in place beforehand.
TEST(AnalyticsRecordingArena, ARecorderKeepingEventsTouchesNoFreshPage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory faults in pages of its own";
#endif
  ANARecordingArena::prepareSpares();
  ANARecordingArena::waitForSpares();
  ASSERT_GE(ANARecordingArena::spareSlabCount(), 2u);
  std::vector<std::shared_ptr<ANACustomEvent>> kept;
  kept.reserve(4000);
  const nlohmann::ordered_json attributes{{"n", 1}, {"text", "a value longer than fifteen bytes"}};
  long faults = 0;
  std::thread recorder([&] {
    ANACustomEvent::create("warm", attributes);  // the thread's own buffers
    const long before = minorFaultsOfThisThread();
    for (int i = 0; i < 4000; ++i) kept.push_back(ANACustomEvent::create("held", attributes));
    faults = minorFaultsOfThisThread() - before;
  });
  recorder.join();
  // From the heap these events would cost about 350; a few are the thread's own stack.
  EXPECT_LE(faults, 40) << "4000 events held cost the recorder " << faults << " page faults";
  EXPECT_EQ(kept.back()->customAttributes().dictionaryRepresentation(), attributes);
}

// The recorder's copy of the attributes travels in a compact form; on the queue it must read
// back as exactly what the checks would have made of the original.
TEST(AnalyticsRecordingArena, ACustomEventReadsBackItsNameAndAttributesExactly) {
  const nlohmann::ordered_json attributes = nlohmann::ordered_json::parse(R"({
      "z": 1, "a": -2, "big": 18446744073709551615, "pi": 3.141592653589793, "third": 0.1,
      "flag": true, "none": null, "list": [1, "x"], "nested": {"k": "v"}, "empty": ""})");
  nlohmann::ordered_json withBadText = attributes;
  withBadText["bad"] = std::string("\xF0\x9F");
  for (const auto& given : {attributes, withBadText, nlohmann::ordered_json(), nlohmann::ordered_json("text")}) {
    auto event = ANACustomEvent::create(std::string("a name past the short-string size \xE2\x82"), given);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->customEventName(), "a name past the short-string size \xEF\xBF\xBD");
    EXPECT_EQ(event->customAttributes().dictionaryRepresentation(),
              ANAAttributeDictionary(given).dictionaryRepresentation())
        << given.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
}

}  // namespace
}  // namespace telemetry
