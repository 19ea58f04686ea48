#pragma once
// Crash reporting and analytics as the application runs them: the SDK starts first at launch
// with the crash kit and the analytics kit, the crash kit's permission prompt is an
// application-modal alert, and the SDK hears of the application's life on its notification
// bus (becoming active, resigning, terminating). Main thread only.

#include <Qt>

#include <memory>

namespace telemetry {
class CRKPermissionPresenter;
}

namespace orrery {

// Installs the permission alert, then starts the SDK with both kits: crashes are captured from
// its return, and the SDK's deferrable work waits for the first frame (or the quit). Raises the
// SDK's exception for an invalid configuration.
void startTelemetry();

// From now on every web view the program makes reports its pages' uncaught script errors to
// the crash kit, which records them into the current crash report.
void installWebViewErrorHook();

// Posts the SDK's activation and resignation notifications for a change of Qt's application
// state: "will" then "did" on becoming active, and on leaving the active state.
void postApplicationStateChange(Qt::ApplicationState state);

// Follows the application's state from now on (install it before the first window shows, so
// the first activation is heard) and adds the quit waiter that announces termination and gives
// recording work up to kTerminationWaitMillis to finish.
// Answers the quit waiter's id.
inline constexpr int kTerminationWaitMillis = 2000;
int installTelemetryLifecycle();

// The permission prompt as an application-modal alert: the settings' title and message, the
// buttons send, always send (when the settings name one) and cancel.
std::shared_ptr<telemetry::CRKPermissionPresenter> makePermissionAlert();

}  // namespace orrery
