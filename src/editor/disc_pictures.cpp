#include "editor/disc_pictures.h"

#include <QImage>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "editor/planet_layer.h"
#include "platform/core/dispatch.h"

namespace orrery::discpictures {
namespace {

constexpr unsigned kMostHelpers = 3;

// Shared with the helpers, which may start only after the caller has finished every disc:
// they then find nothing left to take and never touch a disc.
struct Work {
  std::vector<PlanetLayer*> discs;
  std::vector<QImage> pictures;
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t done = 0;

  void takeDiscs() {
    for (std::size_t i = next++; i < discs.size(); i = next++) {
      pictures[i] = discs[i]->drawPicture();
      std::lock_guard lock(mutex);
      if (++done == discs.size()) finished.notify_all();
    }
  }
};

}  // namespace

void drawConcurrently(const std::vector<PlanetLayer*>& discs) {
  auto work = std::make_shared<Work>();
  for (PlanetLayer* disc : discs)
    if (disc && disc->needsDisplay() && !disc->isHidden() && !disc->isCovered() && disc->look() &&
        !disc->showKeptPicture())
      work->discs.push_back(disc);
  const auto count = work->discs.size();
  if (count < static_cast<std::size_t>(kConcurrentFrom)) return;
  work->pictures.resize(count);
  const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
  const auto helpers = std::min<std::size_t>({kMostHelpers, cores - 1, count / kConcurrentFrom});
  for (std::size_t i = 0; i < helpers; ++i)
    platform::globalQueue(platform::QueuePriority::High).async([work] { work->takeDiscs(); });
  work->takeDiscs();
  {
    // Only discs a helper is drawing at this moment are left: at most one each.
    std::unique_lock lock(work->mutex);
    work->finished.wait(lock, [&] { return work->done == count; });
  }
  for (std::size_t i = 0; i < count; ++i) work->discs[i]->showPicture(work->pictures[i]);
}

}  // namespace orrery::discpictures
