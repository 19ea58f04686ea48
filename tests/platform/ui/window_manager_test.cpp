// Windows and popovers on an X server with a window manager (openbox), which decorates and
// places windows late, after the program asked: the test runs itself again as a child on the
// platform users have (xcb), with the window manager's display, and looks where the windows
// really stand once its configure events have come in.

#include "platform/ui/native_host_view.h"
#include "platform/ui/popover.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"
#include "support/window_manager_child.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace platform;

namespace {

bool inChild() { return testsupport::inWindowManagerChild(); }

// Runs the current test again in a child on the window manager's display; skips with the
// reason where there is none.
void runInChild() { testsupport::runInWindowManagerChild(); }

// Lets the window manager's answers in for `millis` of real time, the virtual clock keeping
// pace with it.
void letTheWindowManagerAnswer(int millis) {
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

// Where the X server has the widget's window: what the user sees, whatever Qt was told.
QPoint serverPosition(QWidget* widget) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return {};
  xcb_connection_t* connection = x11->connection();
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  auto cookie = xcb_translate_coordinates(connection, xcb_window_t(widget->winId()), root, 0, 0);
  xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(connection, cookie, nullptr);
  if (!reply) return {};
  const QPoint at(reply->dst_x, reply->dst_y);
  free(reply);
  return at;
}

std::string text(const QRectF& r) {
  return QStringLiteral("%1, %2 (%3 × %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

}  // namespace

// The edit popover's tabs change its height where it stands: a resize of a top-level window
// whose configure events the window manager answers late must not leave it elsewhere.
TEST(WindowManager, APopoverKeepsItsPlaceAndArrowWhenItsSizeChanges) {
  if (!inChild()) return runInChild();
  auto owner = std::make_shared<Window>(QSizeF(1000, 700));
  auto root = std::make_shared<View>(QRectF(0, 0, 1000, 700));
  owner->setContentView(root);
  owner->setFrame(QRectF(200, 80, 1000, 730));
  owner->makeKeyAndOrderFront();
  letTheWindowManagerAnswer(300);

  auto controller = std::make_shared<ViewController>();
  // Its text tab's field takes the keys, so the popover's window is one the window manager focuses.
  auto content = std::make_shared<View>(QRectF(0, 0, 331, 123));
  auto field = std::make_shared<NativeHostView>(new QLineEdit);
  field->setFrame(QRectF(10, 40, 311, 30));
  content->addSubview(field);
  controller->setView(content);
  auto popover = Popover::create();
  popover->setContentViewController(controller);
  popover->setLargestContentSize(QSizeF(331, 483));
  // Whether the window manager's answers come late enough to matter varies from one window to
  // the next: each round shows the popover in a new window and switches its tabs.
  for (int round = 0; round < 5; ++round) {
    popover->setContentSize(QSizeF(331, 123));
    popover->showRelativeToRect(QRectF(600, 320, 60, 60), root.get(), RectEdge::MaxY);
    letTheWindowManagerAnswer(200);
    const QPointF corner = popover->frame().topLeft();
    const QPointF tip = popover->arrowTip();
    for (const double height : {483.0, 123.0}) {
      popover->setContentSize(QSizeF(331, height));
      letTheWindowManagerAnswer(100);
      ASSERT_TRUE(popover->isShown());
      QWidget* widget = popover->window()->widget();
      const QRectF shownAt(QRect(serverPosition(widget), widget->size()));
      EXPECT_EQ(popover->frame().topLeft(), corner) << height;
      EXPECT_EQ(popover->arrowTip(), tip) << height;
      EXPECT_EQ(shownAt, popover->frame().toRect()) << "round " << round << ", at " << height
                                                    << ": the popover's window stands at " << text(shownAt)
                                                    << ", placed at " << text(popover->frame());
    }
    popover->close();
    letTheWindowManagerAnswer(30);
  }
}

// A window placed right after it is shown, before the window manager has put its title bar
// around it (a restored window is), stands where its frame was asked to begin and keeps its
// size; so does one placed once decorated.
TEST(WindowManager, AWindowPlacedBeforeItsDecorationsComeKeepsItsPlace) {
  if (!inChild()) return runInChild();
  struct Case {
    const char* when;
    int settleMillis;  // between showing and placing
  };
  for (const Case& c : {Case{"at once", 0}, Case{"once decorated", 400}}) {
    SCOPED_TRACE(c.when);
    Window window(QSizeF(700, 500));
    window.setFrame(QRectF(300, 200, 700, 520));
    window.makeKeyAndOrderFront();
    letTheWindowManagerAnswer(c.settleMillis);
    const QRectF asked(120, 93, 900, 640);
    window.setFrame(asked);
    letTheWindowManagerAnswer(600);
    const QRectF frame = window.frame();
    EXPECT_NE(frame.size(), QSizeF(window.widget()->size())) << "the window manager decorated the window";
    EXPECT_EQ(frame.topLeft(), asked.topLeft()) << "the window stands at " << text(frame);
    EXPECT_EQ(serverPosition(window.widget()), window.widget()->geometry().topLeft()) << "as the X server has it";
    // The size asked for is the whole window's where the decorations are known, else the content's.
    EXPECT_EQ(c.settleMillis ? frame.size() : QSizeF(window.widget()->size()), asked.size())
        << "the window stands at " << text(frame);
    window.close();
  }
}
