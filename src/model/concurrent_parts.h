#pragma once
// Work split into parts that the calling thread and a few helpers of the global queue take one
// after another; the call returns once every part has run. The caller takes parts itself and
// waits only for parts a helper has begun, so it never waits on a queue that is busy elsewhere.

#include <cstddef>
#include <functional>
#include <memory>

namespace orrery {

// Runs `part(i)` once for every i in 0 … parts − 1, on up to `helpers` other threads besides
// the calling one (fewer when the process may use fewer cores).
void runInParts(std::size_t parts, std::size_t helpers, const std::function<void(std::size_t)>& part);

// Parts handed over one at a time, as the caller comes upon them: up to `helpers` threads of
// the global queue take them in the order given while the caller goes on, and finish() takes
// what is left on the calling thread, returning once every part has run. A part owns what it
// uses: one a helper has begun runs to its end even when its owner is gone.
class PartsAsTheyCome {
 public:
  // At most `helpers` at once, and fewer than the cores the process may use.
  explicit PartsAsTheyCome(std::size_t helpers);
  // Parts no one has begun are dropped.
  ~PartsAsTheyCome();
  PartsAsTheyCome(const PartsAsTheyCome&) = delete;
  PartsAsTheyCome& operator=(const PartsAsTheyCome&) = delete;

  void add(std::function<void()> part);
  // After it, every part added has run, and what each wrote is seen here.
  void finish();

 private:
  struct Shared;
  std::shared_ptr<Shared> mShared;
};

// The threads worth using at once: the cores this process may run on.
std::size_t usableCores();

}  // namespace orrery
