#include "app/telemetry_start.h"

#include "crash/crash_kit.h"
#include "platform/core/launch_work.h"
#include "platform/core/notification_center.h"
#include "platform/core/quit_waiters.h"
#include "platform/core/termination.h"
#include "platform/ui/application.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/web_view.h"
#include "sdk/analytics/analytics.h"
#include "sdk/startup/telemetry.h"

#include <QGuiApplication>

#include <chrono>

namespace orrery {

namespace {

using telemetry::CRKPermissionPresenter;

class PermissionAlert final : public CRKPermissionPresenter {
 public:
  void present(const Texts& texts, std::function<void(Choice)> completion) override {
    platform::AlertRequest request;
    request.messageText = QString::fromStdString(texts.title);
    request.informativeText = QString::fromStdString(texts.message);
    request.buttons.push_back({QString::fromStdString(texts.send)});
    if (texts.alwaysSend) request.buttons.push_back({QString::fromStdString(*texts.alwaysSend)});
    request.buttons.push_back({QString::fromStdString(texts.cancel), platform::AlertButton::Role::Cancel});
    // Dismissing the alert answers for its cancel button.
    const int index = platform::runModalAlert(request) - platform::kAlertFirstButtonReturn;
    const int cancelIndex = static_cast<int>(request.buttons.size()) - 1;
    if (index < 0 || index >= cancelIndex) completion(Choice::Cancel);
    else completion(index == 1 ? Choice::AlwaysSend : Choice::Send);
  }
};

// A web view as the crash kit's script host.
class WebViewScriptHost final : public telemetry::CRKScriptHost {
 public:
  explicit WebViewScriptHost(platform::WebView& view) : mView(view) {}
  bool supportsUserScripts() const override { return true; }
  void addUserScript(const telemetry::CRKUserScript& script) override {
    mView.addUserScript(QString::fromStdString(script.source), /*atDocumentEnd=*/script.injectionTime == 1,
                        script.forMainFrameOnly);
  }
  void addScriptMessageHandler(const std::string& name,
                               std::function<void(const telemetry::CRKScriptMessage&)> handler) override {
    mView.addScriptMessageHandler(QString::fromStdString(name), [name, handler](const QString& body) {
      handler(telemetry::CRKScriptMessage{name, body.toStdString()});
    });
  }

 private:
  platform::WebView& mView;
};

bool gActive = false;

void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }

}  // namespace

std::shared_ptr<telemetry::CRKPermissionPresenter> makePermissionAlert() { return std::make_shared<PermissionAlert>(); }

void startTelemetry() {
  // Crash capture is in place when the start returns; what can wait (the analytics set-up and
  // its old logs, earlier reports, the settings download, the table of loaded images) waits for
  // the first window's frame instead of competing with it.
  platform::holdLaunchWork();
  platform::Application::shared().firstFrame().after(&platform::releaseLaunchWork);
  telemetry::CRKCrashReportingController::setPermissionPresenter(makePermissionAlert());
  telemetry::Telemetry::with({telemetry::CrashKit::sharedInstance(), telemetry::Analytics::kit()});
}

void installWebViewErrorHook() {
  platform::setWebViewCreationHook([](platform::WebView& view) {
    WebViewScriptHost host(view);
    telemetry::CrashKit::sharedInstance().monitorErrorsForWebViewConfiguration(host);
  });
}

void postApplicationStateChange(Qt::ApplicationState state) {
  const bool active = state == Qt::ApplicationActive;
  if (active == gActive) return;
  gActive = active;
  if (active) {
    post("NSApplicationWillBecomeActiveNotification");
    post("NSApplicationDidBecomeActiveNotification");
  } else {
    post("NSApplicationWillResignActiveNotification");
    post("NSApplicationDidResignActiveNotification");
  }
}

int installTelemetryLifecycle() {
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(app, &QGuiApplication::applicationStateChanged, app, &postApplicationStateChange);
  }
  return platform::addQuitWaiter("telemetry", [] {
    // A quit before the first frame: the engine records the termination behind its set-up.
    platform::releaseLaunchWork();
    post("NSApplicationWillTerminateNotification");
    // Recording the termination takes a hold; the quit waits for it, but not for long.
    platform::waitUntilTerminationAllowed(std::chrono::milliseconds(kTerminationWaitMillis));
  });
}

}  // namespace orrery
