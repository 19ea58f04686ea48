#pragma once
// A hold on the process around work that must not be cut short. The option flags 0x4000
// (sudden termination disabled) and 0x8000 (automatic termination disabled) take the
// process-wide termination holds of platform core, given back exactly once: at end() or, at
// the latest, at destruction. There are no system activities or background tasks here: the
// token is a placeholder object and the task identifier is always 0.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace telemetry {

class ANAActivity {
  struct Tag {};

 public:
  static constexpr uint64_t kSuddenTerminationDisabled = 0x4000;
  static constexpr uint64_t kAutomaticTerminationDisabled = 0x8000;
  static constexpr uint64_t kBackground = 0xFF;

  // The handler would run if a background task expired; none exist here.
  static std::shared_ptr<ANAActivity> beginActivity(const std::string& reason, uint64_t options,
                                                    std::function<void()> expirationHandler = {});
  // Begins, runs the block, ends.
  static void performActivity(const std::string& reason, uint64_t options, const std::function<void()>& block);
  // Takes the holds the options ask for; answers the token (always the placeholder).
  static std::shared_ptr<const void> beginActivityIfAvailable(const std::string& reason, uint64_t options);
  static bool supportsBackgroundTasks() { return false; }
  // The SDK has no application object to hand out.
  static std::shared_ptr<void> sharedAppInstance() { return nullptr; }

  ANAActivity(Tag, std::shared_ptr<const void> token, uint64_t options, std::string reason);
  ~ANAActivity();
  ANAActivity(const ANAActivity&) = delete;
  ANAActivity& operator=(const ANAActivity&) = delete;

  // Gives the holds back; a second call does nothing.
  void end();

  uint64_t options() const { return mOptions; }
  const std::string& reason() const { return mReason; }
  unsigned backgroundTaskIdentifier() const { return 0; }
  bool isActive() const;

 private:
  mutable std::mutex mMutex;  // guards mProcessInfoToken; never held while calling out
  std::shared_ptr<const void> mProcessInfoToken;
  const uint64_t mOptions;
  const std::string mReason;
};

}  // namespace telemetry
