#pragma once
// Asks the service, after each settings download, whether a newer beta build exists, keeps
// the answer as the offered update and then suspends checks for the settings' duration. The
// tester's token comes from a token provider, which yields none on this system unless
// replaced; without a token nothing is checked.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crash/crk_settings.h"
#include "platform/core/dispatch.h"
#include "sdk/client/tel_network_client.h"
#include "sdk/core/error.h"

namespace telemetry {

struct CRKBetaUpdate {
  std::string url;
  std::optional<std::string> version;

  // Needs an object with a "url" text that is a URL; otherwise an error of the URL domain,
  // code -1017.
  static std::optional<CRKBetaUpdate> betaUpdateWithDictionary(const nlohmann::json& dictionary, OptionalError* error);
  std::string promptTitle() const;
  std::string promptMessage() const;
  std::string cancelLabel() const;
  std::string installLabel() const;
};

class CRKBetaController;

class CRKBetaControllerDelegate {
 public:
  virtual ~CRKBetaControllerDelegate() = default;
  virtual std::optional<std::string> APIKeyForBetaController(CRKBetaController& controller) = 0;
  virtual std::shared_ptr<CRKSettings> settingsForBetaController(CRKBetaController& controller) = 0;
};

class CRKBetaController : public std::enable_shared_from_this<CRKBetaController> {
 public:
  using TokenProvider = std::function<std::optional<std::string>()>;
  struct Environment {
    std::optional<bool> betaSupported;              // else isBetaSupported()
    std::optional<std::string> instanceIdentifier;  // else the SDK's
    std::shared_ptr<platform::Queue> mainQueue;      // suspension timer; else the main queue
  };

  // Not an extension, and signed for distribution outside the store.
  static bool isBetaSupported();
  static TokenProvider setTokenProviderForTesting(TokenProvider provider);
  static std::optional<std::string> CRKBetaTokenForApplication();

  static std::shared_ptr<CRKBetaController> initWithDelegate(std::weak_ptr<CRKBetaControllerDelegate> delegate,
                                                            Environment environment);
  ~CRKBetaController();

  // False without a token; otherwise checks after every settings download.
  bool start();
  void checkForUpdate();
  std::optional<std::string> betaToken();
  std::string betaUpdateURL();
  std::optional<CRKBetaUpdate> activeUpdate() const;
  bool checksSuspended() const;
  bool retrying() const;
  // Waits until the check queue has handled what was queued so far.
  void drain();

 private:
  CRKBetaController(std::weak_ptr<CRKBetaControllerDelegate> delegate, Environment environment);
  bool shouldGetUpdates() const;
  void loadUpdate();
  void handleAnswer(const std::vector<std::uint8_t>& data, const OptionalError& error);
  void temporarilySuspendChecks();
  std::shared_ptr<CRKSettings> settings();
  platform::Queue& mainQueue() const;

  const std::weak_ptr<CRKBetaControllerDelegate> mDelegate;
  const Environment mEnvironment;
  std::shared_ptr<platform::SerialQueue> mQueue;
  std::shared_ptr<TELNetworkClient> mNetworkClient;
  mutable std::mutex mMutex;  // guards the values below
  std::optional<std::string> mBetaToken;
  std::optional<CRKBetaUpdate> mActiveUpdate;
  bool mChecksSuspended = false;
  bool mRetrying = false;
  std::uint64_t mSuspension = 0;  // the timer in force; earlier ones do nothing
  bool mObserving = false;
};

}  // namespace telemetry
