#pragma once
// A per-object trace switch: diagnostic lines in drag handling and layer scaling print only
// for objects registered here, so in normal operation they are silent.

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace orrery {

// Identifies an object by its address while holding it weakly.
class EqualityHolder {
 public:
  explicit EqualityHolder(const std::shared_ptr<const void>& target)
      : mTarget(target), mHash(reinterpret_cast<std::uintptr_t>(target.get())) {}
  std::uint64_t hash() const { return mHash; }
  bool isEqual(const EqualityHolder& other) const { return mHash == other.mHash; }
  bool targetLost() const { return mTarget.expired(); }
  QString description() const;

 private:
  std::weak_ptr<const void> mTarget;
  std::uint64_t mHash;
};

class Logger {
 public:
  Logger() = delete;
  // Registers the object for tracing; true when it was newly added.
  static bool addTraceableObject(const std::shared_ptr<const void>& object);
  // True when the object (by identity) is registered; false for null.
  static bool canLog(const void* object);
};

inline bool loggerCanLog(const void* object) { return Logger::canLog(object); }

// A development stopwatch that is switched off: create() gives no timer, and the helpers
// answer 0 for the missing one.
class CodeOptimizationTimer {
 public:
  static std::unique_ptr<CodeOptimizationTimer> create(const QString& label = {});
  static double lap(const CodeOptimizationTimer* timer, const QString& label);
  static double total(const CodeOptimizationTimer* timer, const QString& label);

 private:
  CodeOptimizationTimer() = default;
};

}  // namespace orrery
