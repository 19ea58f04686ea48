#pragma once
// A test that runs itself again as a child on the platform users have (xcb), on an X server of
// its own with or without a window manager, and looks where the X server really has its windows
// once the window manager's configure events have come in. Needs the view tests' main (the
// virtual clock) and xcb.

#include "support/rerun_this_program.h"
#include "support/window_manager_session.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <initializer_list>

namespace testsupport {

inline constexpr char kWindowManagerChildVariable[] = "ORRERY_WINDOW_MANAGER_CHILD";

// Whether this process is the child a test started on its X server; its value says which.
inline bool inWindowManagerChild() { return qEnvironmentVariableIsSet(kWindowManagerChildVariable); }
inline bool childHasWindowManager() { return qEnvironmentVariable(kWindowManagerChildVariable) == "openbox"; }

// Runs the current test again in a child on an X server with openbox and, when asked, on a bare
// one; skips with the reason where there is none.
inline void runInWindowManagerChild(std::initializer_list<bool> withManager = {true}) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  QStringList missing;
  for (const bool manager : withManager) {
    SCOPED_TRACE(manager ? "under openbox" : "on a bare X server");
    WindowManagerSession session(manager);
    if (!session.missing().isEmpty()) {
      missing << session.missing();
      continue;
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString name = QString::fromLatin1(info->test_suite_name()) + "." + QString::fromLatin1(info->name());
    const ChildRun run = rerunThisProgram(name, {{"DISPLAY", session.display()},
                                                 {"QT_QPA_PLATFORM", "xcb"},
                                                 {kWindowManagerChildVariable, manager ? "openbox" : "none"}});
    EXPECT_TRUE(run.finished && run.exitedNormally && run.exitCode == 0) << run.output;
  }
  if (!missing.isEmpty()) GTEST_SKIP() << "not checked: " << missing.join("; ").toStdString();
}

// Lets the window manager's answers in for `millis` of real time, the virtual clock keeping
// pace with it.
inline void letTheWindowManagerAnswer(int millis) {
  QElapsedTimer timer;
  timer.start();
  qint64 last = 0;
  while (timer.elapsed() < millis) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qint64 now = timer.elapsed();
    uitest::advance(double(now - last) / 1000);
    last = now;
    QThread::msleep(5);
  }
}

inline xcb_window_t rootWindow(xcb_connection_t* connection) {
  return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// Where the X server has the top-level widget's window: what the user sees, whatever Qt was told.
inline QPoint serverPosition(QWidget* widget) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return {};
  xcb_connection_t* connection = x11->connection();
  const xcb_window_t root = rootWindow(connection);
  auto cookie = xcb_translate_coordinates(connection, xcb_window_t(widget->winId()), root, 0, 0);
  xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(connection, cookie, nullptr);
  if (!reply) return {};
  const QPoint at(reply->dst_x, reply->dst_y);
  free(reply);
  return at;
}

// The pixels the X server of `connection` shows in `area` of its screen: the windows as it has
// composed them, shapes and clear pixels included. Null unless the screen has 24 bits in 32-bit
// pixels.
inline QImage serverPixels(xcb_connection_t* connection, const QRect& area) {
  if (area.isEmpty()) return {};
  auto cookie = xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, rootWindow(connection), int16_t(area.x()),
                              int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u);
  xcb_get_image_reply_t* reply = xcb_get_image_reply(connection, cookie, nullptr);
  if (!reply) return {};
  QImage image;
  const int length = xcb_get_image_data_length(reply);
  if (reply->depth == 24 && length == area.width() * area.height() * 4)
    image = QImage(xcb_get_image_data(reply), area.width(), area.height(), area.width() * 4, QImage::Format_RGB32)
                .copy();
  free(reply);
  return image;
}

// The same on this program's own X server.
inline QImage serverPixels(const QRect& area) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? serverPixels(x11->connection(), area) : QImage();
}

}  // namespace testsupport
