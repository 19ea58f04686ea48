#pragma once
// A serial queue without a thread of its own: its tasks run one at a time, in order, on the
// global default-priority queue. Cheap enough to make one per URL-session task.

#include "platform/core/dispatch.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace telemetry {

class PooledSerialQueue final : public platform::Queue, public std::enable_shared_from_this<PooledSerialQueue> {
 public:
  static std::shared_ptr<PooledSerialQueue> create(std::string label);

  void async(platform::Task task) override;
  void after(platform::Millis delay, platform::Task task) override;
  bool isCurrent() const override;
  const std::string& label() const override { return mLabel; }

 private:
  explicit PooledSerialQueue(std::string label) : mLabel(std::move(label)) {}
  void drain();

  const std::string mLabel;
  std::mutex mMutex;
  std::deque<platform::Task> mTasks;
  bool mScheduled = false;
};

}  // namespace telemetry
