#pragma once
// The analytics kit's console log: "[Analytics] " or "[Analytics:<label>] " before each
// line, written only while debug mode is on. Safe from any thread.

#include <atomic>
#include <string>

namespace telemetry {

class ANALogger {
 public:
  static ANALogger& sharedLogger();

  void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The label goes into the format first; the caller's arguments are then formatted into it.
  void logWithLabel(const std::string& label, const char* format, ...) __attribute__((format(printf, 3, 4)));

  bool debugMode() const { return mDebugMode.load(std::memory_order_relaxed); }
  void setDebugMode(bool on) { mDebugMode.store(on, std::memory_order_relaxed); }

 private:
  ANALogger() = default;
  std::atomic<bool> mDebugMode{false};
};

}  // namespace telemetry
