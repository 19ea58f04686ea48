#include "foundation/logger.h"

#include "foundation/logging.h"

#include <vector>

namespace orrery {

namespace {

struct TraceSet {
  std::recursive_mutex mutex;
  std::unordered_map<std::uint64_t, EqualityHolder> holders;
  size_t highWaterMark = 0;
};

// Made on the first use of the logger, which announces itself then.
TraceSet& traceSet() {
  static TraceSet* set = [] {
    logLine(QStringLiteral("Initializing Logger"));
    return new TraceSet();
  }();
  return *set;
}

}  // namespace

QString EqualityHolder::description() const {
  return QStringLiteral("<EqualityHolder 0x%1%2>")
      .arg(mHash, 0, 16)
      .arg(targetLost() ? QStringLiteral(" lost") : QString());
}

bool Logger::addTraceableObject(const std::shared_ptr<const void>& object) {
  TraceSet& set = traceSet();
  if (!object) return false;
  std::lock_guard lock(set.mutex);
  EqualityHolder holder(object);
  if (!set.holders.emplace(holder.hash(), holder).second) return false;
  if (set.holders.size() <= set.highWaterMark) return true;
  // Holders of objects that are gone are pruned only when the set outgrows its largest size.
  std::vector<std::uint64_t> lost;
  for (const auto& [hash, h] : set.holders)
    if (h.targetLost()) lost.push_back(hash);
  for (std::uint64_t hash : lost) {
    logLine(QStringLiteral("Removing holder %1").arg(set.holders.at(hash).description()));
    set.holders.erase(hash);
  }
  set.highWaterMark = std::max(set.highWaterMark, set.holders.size());
  return true;
}

bool Logger::canLog(const void* object) {
  TraceSet& set = traceSet();
  if (!object) return false;
  std::lock_guard lock(set.mutex);
  return set.holders.count(reinterpret_cast<std::uintptr_t>(object)) > 0;
}

std::unique_ptr<CodeOptimizationTimer> CodeOptimizationTimer::create(const QString&) { return nullptr; }

double CodeOptimizationTimer::lap(const CodeOptimizationTimer*, const QString&) { return 0.0; }

double CodeOptimizationTimer::total(const CodeOptimizationTimer*, const QString&) { return 0.0; }

}  // namespace orrery
