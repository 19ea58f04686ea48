// What the application tells the telemetry SDK and how it asks the user on its behalf: the
// permission alert, the activation notifications on the SDK's bus, and the quit waiter that
// announces termination and waits (briefly) for recording to finish.
#include "app/telemetry_start.h"

#include "crash/crash_kit.h"
#include "platform/core/notification_center.h"
#include "platform/core/quit_waiters.h"
#include "platform/core/termination.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using telemetry::CRKPermissionPresenter;
using Choice = CRKPermissionPresenter::Choice;

const char* const kLifecycle[] = {"NSApplicationWillBecomeActiveNotification", "NSApplicationDidBecomeActiveNotification",
                                  "NSApplicationWillResignActiveNotification", "NSApplicationDidResignActiveNotification",
                                  "NSApplicationWillTerminateNotification"};

struct Posted {
  platform::ObserverScope scope;
  std::vector<std::string> names;
  Posted() {
    for (const char* name : kLifecycle)
      scope.observe(name, nullptr, [this, name](const platform::Notification&) { names.push_back(name); });
  }
};

TEST(TelemetryStartTest, ThePermissionAlertShowsTheTextsAndAnswersForEachButton) {
  uitest::PresenterScope presenter;
  auto alert = orrery::makePermissionAlert();
  const CRKPermissionPresenter::Texts three{"Send Crash Report?", "It crashed.", "Don't Send", "Send", "Always Send"};
  const CRKPermissionPresenter::Texts two{"Title", "Message", "Cancel", "Send", std::nullopt};
  std::vector<Choice> choices;
  auto record = [&](Choice c) { choices.push_back(c); };

  presenter->alertAnswers = {1000, 1001, 1002, platform::kAlertDismissed, 1000, 1001, platform::kAlertDismissed};
  for (int i = 0; i < 4; ++i) alert->present(three, record);
  for (int i = 0; i < 3; ++i) alert->present(two, record);

  ASSERT_EQ(presenter->alerts.size(), 7u);
  const auto& shown = presenter->alerts[0];
  EXPECT_EQ(shown.messageText, "Send Crash Report?");
  EXPECT_EQ(shown.informativeText, "It crashed.");
  ASSERT_EQ(shown.buttons.size(), 3u);
  EXPECT_EQ(shown.buttons[0].title, "Send");
  EXPECT_EQ(shown.buttons[1].title, "Always Send");
  EXPECT_EQ(shown.buttons[2].title, "Don't Send");
  EXPECT_EQ(shown.buttons[2].role, platform::AlertButton::Role::Cancel);
  EXPECT_EQ(presenter->alerts[4].buttons.size(), 2u) << "no always-send text, no such button";
  EXPECT_EQ(choices, (std::vector<Choice>{Choice::Send, Choice::AlwaysSend, Choice::Cancel, Choice::Cancel,
                                          Choice::Send, Choice::Cancel, Choice::Cancel}));
}

TEST(TelemetryStartTest, StateChangesPostWillThenDidOnlyWhenActivityChanges) {
  Posted posted;
  orrery::postApplicationStateChange(Qt::ApplicationActive);
  orrery::postApplicationStateChange(Qt::ApplicationActive);
  orrery::postApplicationStateChange(Qt::ApplicationInactive);
  orrery::postApplicationStateChange(Qt::ApplicationHidden);
  EXPECT_EQ(posted.names, (std::vector<std::string>{kLifecycle[0], kLifecycle[1], kLifecycle[2], kLifecycle[3]}));
}

TEST(TelemetryStartTest, TheQuitAnnouncesTerminationAndWaitsForTheRecordingHold) {
  Posted posted;
  // The engine takes a hold while it records the termination, and gives it back when written.
  platform::ObserverScope engine;
  bool heldDuringAnnouncement = false;
  engine.observe("NSApplicationWillTerminateNotification", nullptr, [&](const platform::Notification&) {
    platform::disableSuddenTermination();
    heldDuringAnnouncement = platform::suddenTerminationHoldCount() > 0;
    std::thread([] { platform::enableSuddenTermination(); }).detach();
  });
  const int id = orrery::installTelemetryLifecycle();
  const auto ran = platform::runQuitWaiters();
  platform::removeQuitWaiter(id);
  EXPECT_NE(std::find(ran.begin(), ran.end(), "telemetry"), ran.end());
  EXPECT_EQ(posted.names, std::vector<std::string>{kLifecycle[4]});
  EXPECT_TRUE(heldDuringAnnouncement);
  EXPECT_EQ(platform::suddenTerminationHoldCount(), 0) << "the quit went on only once the hold was given back";
}

}  // namespace
