#include "sdk/analytics/ana_activity.h"

#include "platform/core/termination.h"

namespace telemetry {

namespace {
// Stands for the system's activity object, which this platform has none of.
const std::shared_ptr<const void>& nullToken() {
  static const auto* token = new std::shared_ptr<const void>(std::make_shared<int>(0));
  return *token;
}
}  // namespace

std::shared_ptr<const void> ANAActivity::beginActivityIfAvailable(const std::string& reason, uint64_t options) {
  if (options & kSuddenTerminationDisabled) platform::disableSuddenTermination();
  if (options & kAutomaticTerminationDisabled) platform::disableAutomaticTermination(reason);
  return nullToken();
}

std::shared_ptr<ANAActivity> ANAActivity::beginActivity(const std::string& reason, uint64_t options,
                                                        std::function<void()> /*expirationHandler*/) {
  auto token = beginActivityIfAvailable(reason, options);
  return std::make_shared<ANAActivity>(Tag{}, std::move(token), options, reason);
}

void ANAActivity::performActivity(const std::string& reason, uint64_t options, const std::function<void()>& block) {
  auto activity = beginActivity(reason, options);
  if (block) block();
  activity->end();
}

ANAActivity::ANAActivity(Tag, std::shared_ptr<const void> token, uint64_t options, std::string reason)
    : mProcessInfoToken(std::move(token)), mOptions(options), mReason(std::move(reason)) {}

ANAActivity::~ANAActivity() { end(); }

void ANAActivity::end() {
  std::shared_ptr<const void> token;
  {
    std::lock_guard lock(mMutex);
    token.swap(mProcessInfoToken);
  }
  if (!token) return;
  if (mOptions & kSuddenTerminationDisabled) platform::enableSuddenTermination();
  if (mOptions & kAutomaticTerminationDisabled) platform::enableAutomaticTermination(mReason);
}

bool ANAActivity::isActive() const {
  std::lock_guard lock(mMutex);
  return mProcessInfoToken != nullptr;
}

}  // namespace telemetry
