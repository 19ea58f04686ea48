#include "app/quit_signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>

TEST(QuitSignals, TermIntAndHangUpReachTheMainLoopOnceEach) {
  struct sigaction previous[3];
  const int kinds[] = {SIGTERM, SIGINT, SIGHUP};
  for (int i = 0; i < 3; ++i) sigaction(kinds[i], nullptr, &previous[i]);
  int quits = 0;
  ASSERT_TRUE(orrery::installQuitSignalHandlers([&] { ++quits; }));
  for (int i = 0; i < 3; ++i) {
    ::raise(kinds[i]);
    QElapsedTimer timer;
    timer.start();
    while (quits < i + 1 && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(quits, i + 1);
  }
  for (int i = 0; i < 3; ++i) sigaction(kinds[i], &previous[i], nullptr);
}
