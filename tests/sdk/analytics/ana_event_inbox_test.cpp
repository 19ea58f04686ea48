#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_event_inbox.h"

namespace telemetry {
namespace {

std::shared_ptr<const ANAEvent> event(int producer, int i) {
  return ANACustomEvent::create("e", nlohmann::ordered_json{{"p", producer}, {"i", i}});
}

int attribute(const ANAEventInbox::Entry& entry, const char* key) {
  auto custom = std::dynamic_pointer_cast<const ANACustomEvent>(entry.event);
  return custom->customAttributes().dictionaryRepresentation()[key].get<int>();
}

TEST(AnalyticsEventInbox, AsksForADrainOnlyWhenIdleAndKeepsBlocksInTheirPlace) {
  ANAEventInbox inbox;
  EXPECT_TRUE(inbox.push({event(0, 0), nullptr})) << "the first entry finds the inbox idle";
  EXPECT_FALSE(inbox.push({nullptr, [](const std::shared_ptr<Operation>&) {}}));
  EXPECT_FALSE(inbox.push({event(0, 1), nullptr}));
  auto entries = inbox.take();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(attribute(entries[0], "i"), 0);
  EXPECT_TRUE(entries[1].block && !entries[1].event);
  EXPECT_EQ(attribute(entries[2], "i"), 1);

  // While a drain runs, a push does not ask for another; the drain learns of it at its end.
  EXPECT_FALSE(inbox.push({event(0, 2), nullptr}));
  EXPECT_FALSE(inbox.finishDrain());
  EXPECT_EQ(inbox.take().size(), 1u);
  EXPECT_TRUE(inbox.finishDrain());
  EXPECT_TRUE(inbox.push({event(0, 3), nullptr})) << "idle again";
}

// Producers race one consumer that drains only when asked: every entry arrives once, each
// producer's in its order, and no drain is asked for while one is due or under way.
TEST(AnalyticsEventInbox, ManyRecordersLoseNothingAndAskForOneDrainAtATime) {
  constexpr int kProducers = 8, kEach = 20000;
  ANAEventInbox inbox;
  std::mutex mutex;
  std::condition_variable asked;
  int due = 0, maxDue = 0;
  bool producing = true;
  std::vector<std::vector<int>> received(kProducers);

  std::thread consumer([&] {
    for (;;) {
      {
        std::unique_lock lock(mutex);
        asked.wait(lock, [&] { return due > 0 || !producing; });
        if (due == 0) return;
      }
      for (;;) {
        for (auto& entry : inbox.take()) received[attribute(entry, "p")].push_back(attribute(entry, "i"));
        // A push that finds the inbox idle counts its request only after this one is gone.
        std::lock_guard lock(mutex);
        if (inbox.finishDrain()) {
          --due;
          break;
        }
      }
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p)
    producers.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) {
        if (!inbox.push({event(p, i), nullptr})) continue;
        std::lock_guard lock(mutex);
        maxDue = std::max(maxDue, ++due);
        asked.notify_one();
      }
    });
  for (auto& t : producers) t.join();
  {
    std::lock_guard lock(mutex);
    producing = false;
    asked.notify_one();
  }
  consumer.join();

  EXPECT_EQ(maxDue, 1);
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(received[p].size(), static_cast<size_t>(kEach)) << "producer " << p;
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(received[p][i], i) << "producer " << p;
  }
  EXPECT_TRUE(inbox.take().empty());
}

}  // namespace
}  // namespace telemetry
