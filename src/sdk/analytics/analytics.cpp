#include "sdk/analytics/analytics.h"

#include <atomic>

#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/startup/telemetry.h"

namespace telemetry {

namespace {

class AnalyticsKitClass final : public TELKitClass {
 public:
  AnalyticsKitClass() : TELKitClass("Analytics") {}
  bool conformsToTELKit() const override { return true; }
  std::string bundleIdentifier() const override { return std::string(kKitIdentifierPrefix) + ".analytics.mac"; }
  std::string kitDisplayVersion() const override { return "1.3.2"; }
  std::optional<std::string> kitBuildVersion() const override { return "18"; }
  bool respondsToInitializeIfNeeded() const override { return true; }
  void initializeIfNeeded() const override { Analytics::initializeIfNeeded(); }
};

// Registered at load, so the core finds the kit by name.
const AnalyticsKitClass gAnalyticsKitClass;

std::atomic<Analytics*> gReplacement{nullptr};

}  // namespace

const TELKitClass& Analytics::kit() { return gAnalyticsKitClass; }

Analytics& Analytics::sharedInstance() {
  if (Analytics* replacement = gReplacement.load()) return *replacement;
  static Analytics* shared = new Analytics();  // lives until the process ends
  return *shared;
}

Analytics* Analytics::setSharedInstanceForTesting(Analytics* instance) { return gReplacement.exchange(instance); }

void Analytics::initializeIfNeeded() {
  const TELKitClass* crashKit = TELKitClass::classNamed("CrashKit");
  if (crashKit && crashKit->conformsToTELKit()) {
    crashKit->initializeIfNeeded();
    return;
  }
  sharedInstance().startWithBetaToken(std::nullopt);
}

Analytics::Analytics(std::optional<std::string> rootDirectory, ANAAnalyticsController::Environment environment)
    : mRootDirectory(std::move(rootDirectory)), mEnvironment(environment) {}

void Analytics::startWithBetaToken(const std::optional<std::string>& betaToken) {
  std::call_once(mStarted, [&] {
    if (!mEnvironment.facts) ANALogger::sharedLogger().setDebugMode(Telemetry::sharedSDK().debug());
    ANALogger::sharedLogger().log("Initialized");
    auto controller = mRootDirectory
                          ? ANAAnalyticsController::initWithBetaToken(betaToken, *mRootDirectory, mEnvironment)
                          : ANAAnalyticsController::initWithBetaToken(betaToken);
    std::lock_guard lock(mMutex);
    mController = std::move(controller);
    mStartedController.store(mController.get(), std::memory_order_release);
  });
}

std::shared_ptr<ANAAnalyticsController> Analytics::analyticsController() const {
  std::lock_guard lock(mMutex);
  return mController;
}

void Analytics::record(std::shared_ptr<const ANAEvent> event) {
  if (auto* controller = sharedInstance().mStartedController.load(std::memory_order_acquire))
    controller->logEvent(std::move(event));
}

void Analytics::logSignUpWithMethod(const Text& method, std::optional<bool> success, const Json& attributes) {
  record(ANAPredefinedEvent::signUpEvent(method, success, attributes));
}
void Analytics::logLoginWithMethod(const Text& method, std::optional<bool> success, const Json& attributes) {
  record(ANAPredefinedEvent::loginEvent(method, success, attributes));
}
void Analytics::logShareWithMethod(const Text& method, const Text& contentName, const Text& contentType,
                                   const Text& contentId, const Json& attributes) {
  record(ANAPredefinedEvent::shareEvent(method, contentName, contentType, contentId, attributes));
}
void Analytics::logInviteWithMethod(const Text& method, const Json& attributes) {
  record(ANAPredefinedEvent::inviteEvent(method, attributes));
}
void Analytics::logPurchaseWithPrice(const Price& price, const Text& currency, std::optional<bool> success,
                                     const Text& itemName, const Text& itemType, const Text& itemId,
                                     const Json& attributes) {
  record(ANAPredefinedEvent::purchaseEvent(price, currency, success, itemName, itemType, itemId, attributes));
}
void Analytics::logLevelStart(const Text& levelName, const Json& attributes) {
  record(ANAPredefinedEvent::levelStartEvent(levelName, attributes));
}
void Analytics::logLevelEnd(const Text& levelName, const Json& score, std::optional<bool> success,
                            const Json& attributes) {
  record(ANAPredefinedEvent::levelEndEvent(levelName, score, success, attributes));
}
void Analytics::logAddToCartWithPrice(const Price& price, const Text& currency, const Text& itemName,
                                      const Text& itemType, const Text& itemId, const Json& attributes) {
  record(ANAPredefinedEvent::addToCartEvent(price, currency, itemName, itemType, itemId, attributes));
}
void Analytics::logStartCheckoutWithPrice(const Price& price, const Text& currency, const Json& itemCount,
                                          const Json& attributes) {
  record(ANAPredefinedEvent::startCheckoutEvent(price, currency, itemCount, attributes));
}
void Analytics::logRating(const Json& rating, const Text& contentName, const Text& contentType, const Text& contentId,
                          const Json& attributes) {
  record(ANAPredefinedEvent::ratingEvent(rating, contentName, contentType, contentId, attributes));
}
void Analytics::logContentViewWithName(const Text& contentName, const Text& contentType, const Text& contentId,
                                       const Json& attributes) {
  record(ANAPredefinedEvent::contentViewEvent(contentName, contentType, contentId, attributes));
}
void Analytics::logSearchWithQuery(const Text& query, const Json& attributes) {
  record(ANAPredefinedEvent::searchEvent(query, attributes));
}
void Analytics::logCustomEventWithName(const Text& name, const Json& attributes) {
  record(ANACustomEvent::create(name, attributes));
}

void Analytics::logPreviousSessionCrashedOnDate(const Date& date) {
  if (!date) return;
  if (auto controller = sharedInstance().analyticsController())
    controller->logCrashEvent(ANACrashEvent::create(*date, 0));
}

}  // namespace telemetry
