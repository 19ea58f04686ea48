#pragma once
// Runs the current test again as a child on the platform users have (xcb), on an X server of
// its own, with a window manager (openbox) or bare; the child knows itself by
// inWindowManagerChild(). A test does `if (!inWindowManagerChild()) return runInWindowManagerChild();`
// and the rest runs in the child.

#include "rerun_this_program.h"
#include "window_manager_session.h"

#include <gtest/gtest.h>

namespace testsupport {

constexpr char kWindowManagerChildVariable[] = "ORRERY_WINDOW_MANAGER_CHILD";

inline bool inWindowManagerChild() { return qEnvironmentVariableIsSet(kWindowManagerChildVariable); }

// Skips with the reason where there is no such X server.
inline void runInWindowManagerChild(bool withManager = true) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  WindowManagerSession session(withManager);
  if (!session.missing().isEmpty())
    GTEST_SKIP() << "not checked under a window manager: " << session.missing().toStdString();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const QString name = QString::fromLatin1(info->test_suite_name()) + "." + QString::fromLatin1(info->name());
  const ChildRun run = rerunThisProgram(
      name, {{"DISPLAY", session.display()}, {"QT_QPA_PLATFORM", "xcb"}, {kWindowManagerChildVariable, "1"}});
  EXPECT_TRUE(run.finished && run.exitedNormally && run.exitCode == 0)
      << (withManager ? "under openbox" : "on a bare X server") << ":\n"
      << run.output;
}

}  // namespace testsupport
