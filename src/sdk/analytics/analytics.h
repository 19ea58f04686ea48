#pragma once
// The analytics kit: starts the analytics engine once per process and records events from
// any thread. Events recorded before the start are dropped.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/analytics/ana_analytics_controller.h"
#include "sdk/analytics/ana_predefined_event.h"
#include "sdk/startup/tel_kit.h"

namespace telemetry {

class Analytics final : public TELKitObject {
 public:
  using Text = ANAPredefinedEvent::Text;
  using Json = ANAPredefinedEvent::Json;
  using Price = ANAPredefinedEvent::Price;
  using Date = std::optional<std::chrono::system_clock::time_point>;

  // The kit class registered as "Analytics".
  static const TELKitClass& kit();
  static Analytics& sharedInstance();
  // Hands the start to "CrashKit" when that kit is there (it starts this one with its beta
  // token); otherwise starts this kit without one.
  static void initializeIfNeeded();

  // A kit whose engine keeps its files under `rootDirectory` (tests); the shared one uses the
  // standard place.
  explicit Analytics(std::optional<std::string> rootDirectory = std::nullopt,
                     ANAAnalyticsController::Environment environment = {});
  const TELKitClass& kitClass() const override { return kit(); }

  // Runs once per kit; later calls, with any token, change nothing.
  void startWithBetaToken(const std::optional<std::string>& betaToken);
  std::shared_ptr<ANAAnalyticsController> analyticsController() const;

  static void logSignUpWithMethod(const Text& method, std::optional<bool> success, const Json& customAttributes = nullptr);
  static void logLoginWithMethod(const Text& method, std::optional<bool> success, const Json& customAttributes = nullptr);
  static void logShareWithMethod(const Text& method, const Text& contentName, const Text& contentType,
                                 const Text& contentId, const Json& customAttributes = nullptr);
  static void logInviteWithMethod(const Text& method, const Json& customAttributes = nullptr);
  static void logPurchaseWithPrice(const Price& price, const Text& currency, std::optional<bool> success,
                                   const Text& itemName, const Text& itemType, const Text& itemId,
                                   const Json& customAttributes = nullptr);
  static void logLevelStart(const Text& levelName, const Json& customAttributes = nullptr);
  static void logLevelEnd(const Text& levelName, const Json& score, std::optional<bool> success,
                          const Json& customAttributes = nullptr);
  static void logAddToCartWithPrice(const Price& price, const Text& currency, const Text& itemName,
                                    const Text& itemType, const Text& itemId, const Json& customAttributes = nullptr);
  static void logStartCheckoutWithPrice(const Price& price, const Text& currency, const Json& itemCount,
                                        const Json& customAttributes = nullptr);
  static void logRating(const Json& rating, const Text& contentName, const Text& contentType, const Text& contentId,
                        const Json& customAttributes = nullptr);
  static void logContentViewWithName(const Text& contentName, const Text& contentType, const Text& contentId,
                                     const Json& customAttributes = nullptr);
  static void logSearchWithQuery(const Text& query, const Json& customAttributes = nullptr);
  static void logCustomEventWithName(const Text& name, const Json& customAttributes = nullptr);
  // The previous run's crash, at its date; nothing without a date.
  static void logPreviousSessionCrashedOnDate(const Date& date);

  // Puts another kit in the shared one's place (tests), answering the one it replaced.
  static Analytics* setSharedInstanceForTesting(Analytics* instance);

 private:
  static void record(std::shared_ptr<const ANAEvent> event);

  const std::optional<std::string> mRootDirectory;
  const ANAAnalyticsController::Environment mEnvironment;
  std::once_flag mStarted;
  mutable std::mutex mMutex;  // guards the controller
  std::shared_ptr<ANAAnalyticsController> mController;
  // The controller once started, read without the lock by every recorded event; it lives as
  // long as the kit, which keeps it in mController.
  std::atomic<ANAAnalyticsController*> mStartedController{nullptr};
};

}  // namespace telemetry
