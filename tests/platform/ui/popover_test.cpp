#include "platform/ui/popover.h"

#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"
#include "support/fake_pointer.h"
#include "support/window_manager_child.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QRegion>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

using namespace platform;

namespace {

struct RecordingDelegate : PopoverDelegate {
  std::vector<std::string> calls;
  void popoverWillShow(Popover&) override { calls.push_back("willShow"); }
  void popoverDidShow(Popover&) override { calls.push_back("didShow"); }
  void popoverDidClose(Popover&) override { calls.push_back("didClose"); }
};

class ClickCounter : public View {
 public:
  using View::View;
  int downs = 0;
  QString typed;
  void mouseDown(const Event&) override { ++downs; }
  void keyDown(const Event& e) override { typed += e.characters; }
  bool acceptsFirstResponder() const override { return true; }
};

struct PopoverFixture {
  PopoverFixture() {
    window = std::make_shared<Window>(QSizeF(600, 400));
    root = std::make_shared<ClickCounter>(QRectF(0, 0, 600, 400));
    window->setContentView(root);
    window->makeKeyAndOrderFront();
    window->setFrameOrigin(QPointF(0, 0));
    controller = std::make_shared<ViewController>();
    controller->setView(std::make_shared<View>(QRectF(0, 0, 200, 100)));
    popover = Popover::create();
    popover->setContentViewController(controller);
    popover->setBehavior(Popover::Semitransient);
    popover->setDelegate(&delegate);
  }
  ~PopoverFixture() {
    popover->close();
    uitest::advance(0.05);
  }
  // The owner window over the whole available screen; answers that area.
  QRectF coverScreen() {
    const QRectF screen = QRectF(QGuiApplication::primaryScreen()->availableGeometry());
    window->setContentSize(screen.size());
    window->setFrameOrigin(screen.topLeft());
    root->setFrame(QRectF(QPointF(0, 0), screen.size()));
    return screen;
  }
  QRectF onScreen(const QRectF& rectInRoot) const {
    return rectInRoot.translated(window->canvas()->mapToGlobal(QPointF(0, 0)));
  }

  std::shared_ptr<Window> window;
  std::shared_ptr<ClickCounter> root;
  std::shared_ptr<ViewController> controller;
  std::shared_ptr<Popover> popover;
  RecordingDelegate delegate;
};

}  // namespace

TEST(Popover, StandsBesideTheChosenEdgeWithItsArrowOnTheAnchorAndTakesNoFocus) {
  PopoverFixture f;
  f.window->makeFirstResponder(f.root.get());
  const QRectF anchor(250, 100, 20, 20);
  f.popover->showRelativeToRect(anchor, f.root.get(), RectEdge::MaxY);

  ASSERT_TRUE(f.popover->isShown());
  const QRectF a = f.onScreen(anchor);
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MaxY) << "edge 3 is the bottom on screen in a flipped view";
  EXPECT_EQ(f.popover->frame(), QRectF(a.center().x() - 100, a.bottom(), 200, 100 + Popover::kArrowLength));
  EXPECT_EQ(f.popover->arrowTip(), QPointF(a.center().x(), a.bottom()));
  EXPECT_EQ(f.controller->view()->frame(), QRectF(0, Popover::kArrowLength, 200, 100)) << "content below the arrow";
  EXPECT_EQ(f.delegate.calls, (std::vector<std::string>{"willShow", "didShow"}));

  QMainWindow* widget = f.popover->window()->widget();
  EXPECT_TRUE(widget->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(widget->windowFlags() & Qt::WindowDoesNotAcceptFocus);
  EXPECT_EQ(widget->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(f.popover->window()->canvas()->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(f.window->firstResponder(), f.root.get()) << "the owner keeps its first responder";
  EXPECT_EQ(Application::shared().keyWindow(), f.window.get());

  // The window shows the bubble under the content and the arrow pointing up at the anchor.
  const QImage picture = f.popover->window()->snapshot();
  const QPointF tip = f.popover->arrowTip() - f.popover->frame().topLeft();
  EXPECT_GT(picture.pixelColor(QPoint(int(tip.x()), int(tip.y()) + 6)).alpha(), 200) << "inside the arrow";
  EXPECT_EQ(picture.pixelColor(QPoint(2, 2)).alpha(), 0) << "beside the arrow the window is clear";
  EXPECT_GT(picture.pixelColor(QPoint(100, 60)).alpha(), 200);

  // Shaped to the bubble, so a server without a compositing manager shows no black around it.
  const QRegion shape = widget->mask();
  EXPECT_TRUE(shape.contains(QPoint(int(tip.x()), int(tip.y()) + 6)));
  EXPECT_TRUE(shape.contains(QPoint(100, 60)));
  EXPECT_FALSE(shape.contains(QPoint(2, 2)));
  EXPECT_FALSE(shape.contains(QPoint(0, int(Popover::kArrowLength)))) << "the rounded corner";
  int drawnOutside = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (picture.pixelColor(QPoint(x, y)).alpha() > 0 && !shape.contains(QPoint(x, y))) ++drawnOutside;
  EXPECT_EQ(drawnOutside, 0) << "drawn pixels the shape cuts off";
}

TEST(Popover, TakesTheOppositeEdgeWithoutRoomAndSlidesAlongTheScreen) {
  PopoverFixture f;
  const QRectF screen = f.coverScreen();

  // Near the bottom: below has no room, so it stands above.
  const QRectF low(300, screen.height() - 40, 20, 20);
  f.popover->showRelativeToRect(low, f.root.get(), RectEdge::MaxY);
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MinY);
  EXPECT_DOUBLE_EQ(f.popover->frame().bottom(), f.onScreen(low).top());

  // Near the left edge: on the left there is no room, so it stands on the right; near the top
  // it slides down to stay on the screen while its arrow still points at the anchor.
  const QRectF corner(5, 5, 10, 10);
  f.popover->showRelativeToRect(corner, f.root.get(), RectEdge::MinX);
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MaxX);
  EXPECT_DOUBLE_EQ(f.popover->frame().left(), f.onScreen(corner).right());
  EXPECT_GE(f.popover->frame().top(), screen.top());
  EXPECT_DOUBLE_EQ(f.popover->arrowTip().y(),
                   std::max(f.onScreen(corner).center().y(),
                            f.popover->frame().top() + Popover::kCornerRadius + Popover::kArrowBase / 2));
  EXPECT_EQ(f.delegate.calls, (std::vector<std::string>{"willShow", "didShow"})) << "moving is no second show";
}

TEST(Popover, ATallPopoverWithoutRoomAboveOrBelowStandsBesideTheAnchorAndNeverLeavesTheScreen) {
  PopoverFixture f;
  const QRectF screen = f.coverScreen();
  const auto inside = [&screen](const QRectF& frame) { return screen.contains(frame); };

  // Taller than the room above or below an anchor in the middle of the screen.
  f.popover->setContentSize(QSizeF(200, screen.height() * 0.6));
  for (const RectEdge preferred : {RectEdge::MaxY, RectEdge::MinY}) {
    for (const double x : {screen.width() * 0.2, screen.width() * 0.8}) {
      const QRectF middle(x, screen.height() / 2 - 10, 20, 20);
      f.popover->showRelativeToRect(middle, f.root.get(), preferred);
      const RectEdge shown = f.popover->shownEdge();
      EXPECT_TRUE(shown == RectEdge::MinX || shown == RectEdge::MaxX) << "beside, not above or below";
      EXPECT_TRUE(inside(f.popover->frame())) << "x " << x;
      const QRectF a = f.onScreen(middle);
      EXPECT_DOUBLE_EQ(f.popover->arrowTip().x(), shown == RectEdge::MaxX ? a.right() : a.left());
    }
  }

  // Taller than the screen: the whole frame is kept on the screen, at its top.
  f.popover->setContentSize(QSizeF(200, screen.height() + 50));
  f.popover->showRelativeToRect(QRectF(300, 300, 20, 20), f.root.get(), RectEdge::MaxY);
  EXPECT_GE(f.popover->frame().top(), screen.top());
  EXPECT_GE(f.popover->frame().left(), screen.left());
  EXPECT_LE(f.popover->frame().right(), screen.right());
}

TEST(Popover, ANewSizeWhileShownKeepsItsEdgeAndItsArrowOnTheAnchor) {
  PopoverFixture f;
  const QRectF screen = f.coverScreen();
  const double reach = Popover::kCornerRadius + Popover::kArrowBase / 2;
  struct Case {
    const char* where;
    QRectF anchor;
    RectEdge edge;
  };
  // Below an anchor high on the screen the top stays, above one low on it the bottom: the arrow
  // stays on the anchor whatever the new size.
  const Case cases[] = {
      {"below", QRectF(300, 100, 20, 20), RectEdge::MaxY},
      {"above", QRectF(300, screen.height() - 200, 20, 20), RectEdge::MinY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    f.popover->close();
    f.popover->setContentSize(QSizeF(300, 200));
    f.popover->showRelativeToRect(c.anchor, f.root.get(), RectEdge::MaxY);
    ASSERT_EQ(f.popover->shownEdge(), c.edge);
    const QRectF a = f.onScreen(c.anchor);
    const double left = f.popover->frame().left();
    for (const QSizeF size : {QSizeF(300, 350), QSizeF(300, 120), QSizeF(300, 260)}) {
      f.popover->setContentSize(size);
      const QRectF frame = f.popover->frame();
      EXPECT_EQ(f.popover->shownEdge(), c.edge) << size.height();
      EXPECT_DOUBLE_EQ(frame.left(), left);
      EXPECT_DOUBLE_EQ(frame.height(), size.height() + Popover::kArrowLength);
      EXPECT_DOUBLE_EQ(c.edge == RectEdge::MaxY ? frame.top() : frame.bottom(),
                       c.edge == RectEdge::MaxY ? a.bottom() : a.top());
      EXPECT_EQ(f.popover->arrowTip(), QPointF(a.center().x(), c.edge == RectEdge::MaxY ? a.bottom() : a.top()));
    }
  }
  // Told how large it will grow, a popover low on the screen stands beside its anchor with room
  // for that size; each size moves it along the side only as far as the screen and its arrow need.
  f.popover->close();
  f.popover->setContentSize(QSizeF(300, 100));
  f.popover->setLargestContentSize(QSizeF(300, 400));
  const QRectF low(300, screen.height() - 150, 20, 20);
  const QRectF a = f.onScreen(low);
  f.popover->showRelativeToRect(low, f.root.get(), RectEdge::MaxY);
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MaxX);
  EXPECT_DOUBLE_EQ(f.popover->frame().left(), a.right());
  EXPECT_DOUBLE_EQ(f.popover->frame().center().y(), a.center().y()) << "centred on the anchor";
  f.popover->setContentSize(QSizeF(300, 400));
  EXPECT_DOUBLE_EQ(f.popover->frame().bottom(), screen.bottom());
  EXPECT_EQ(f.popover->arrowTip(), QPointF(a.right(), a.center().y()));
  f.popover->setContentSize(QSizeF(300, 100));
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MaxX);
  EXPECT_DOUBLE_EQ(f.popover->frame().bottom(), a.center().y() + reach) << "no further than the arrow needs";
  EXPECT_EQ(f.popover->arrowTip(), QPointF(a.right(), a.center().y()));
  f.popover->setLargestContentSize(QSizeF());

  // A new size without room on its edge takes the other edge rather than covering the anchor.
  f.popover->close();
  f.popover->setContentSize(QSizeF(300, 200));
  const QRectF middle(300, screen.height() - 320, 20, 20);
  f.popover->showRelativeToRect(middle, f.root.get(), RectEdge::MaxY);
  ASSERT_EQ(f.popover->shownEdge(), RectEdge::MaxY);
  f.popover->setContentSize(QSizeF(300, 400));
  EXPECT_EQ(f.popover->shownEdge(), RectEdge::MinY);
  EXPECT_DOUBLE_EQ(f.popover->frame().bottom(), f.onScreen(middle).top());
  EXPECT_EQ(f.popover->arrowTip(), QPointF(f.onScreen(middle).center().x(), f.onScreen(middle).top()));
}

// Another program's window, run by this test again, that says when it is shown and when pressed.
constexpr char kOtherProgramVariable[] = "ORRERY_OTHER_PROGRAM_WINDOW";
constexpr QRect kOtherProgramArea(900, 500, 300, 200);

class OtherProgramWindow final : public QWidget {
 protected:
  void mousePressEvent(QMouseEvent*) override {
    std::printf("PRESSED\n");
    std::fflush(stdout);
  }
};

void showOtherProgramWindow() {
  OtherProgramWindow other;
  other.setGeometry(kOtherProgramArea);
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  std::printf("SHOWN\n");
  std::fflush(stdout);
  // Ended by the test that started it.
  (void)QTest::qWaitFor([] { return false; }, 60000);
}

TEST(Popover, SemiTransientClosesOnAPressInTheWindowItPointsIntoOnEscapeOrWhenItHides) {
  if (qEnvironmentVariableIsSet(kOtherProgramVariable)) return showOtherProgramWindow();
  {
    PopoverFixture f;
    f.popover->showRelativeToRect(QRectF(10, 10, 20, 20), f.root.get(), RectEdge::MaxY);
    // A click inside the popover keeps it, and so does one in another window of the program.
    Window* own = f.popover->window();
    own->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(50, 50)));
    own->sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(50, 50)));
    Window elsewhere(QSizeF(200, 100));
    elsewhere.setContentView(std::make_shared<View>(QRectF(0, 0, 200, 100)));
    elsewhere.makeKeyAndOrderFront();
    elsewhere.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(50, 50)));
    elsewhere.sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(50, 50)));
    EXPECT_TRUE(f.popover->isShown());
    // A click in the owner closes it and still reaches the owner.
    f.window->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(400, 300)));
    EXPECT_FALSE(f.popover->isShown());
    EXPECT_EQ(f.root->downs, 1);
    EXPECT_EQ(f.delegate.calls.back(), "didClose");
    f.window->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(400, 300)));
    EXPECT_EQ(std::count(f.delegate.calls.begin(), f.delegate.calls.end(), "didClose"), 1);
  }
  {
    PopoverFixture f;
    f.window->makeFirstResponder(f.root.get());
    f.popover->showRelativeToRect(QRectF(10, 10, 20, 20), f.root.get(), RectEdge::MaxY);
    f.window->sendEvent(Event::key(EventType::KeyDown, KeyCode::Escape, "\x1b"));
    EXPECT_FALSE(f.popover->isShown());
  }
  {
    PopoverFixture f;
    f.popover->showRelativeToRect(QRectF(10, 10, 20, 20), f.root.get(), RectEdge::MaxY);
    f.window->orderOut();
    uitest::advance(0.01);
    EXPECT_FALSE(f.popover->isShown());
    EXPECT_EQ(f.delegate.calls.back(), "didClose");
  }
  // On a real screen, with and without a window manager: a press in another program's window
  // leaves the popover open (the user may drag a text from there onto its field); the next
  // press in the window it points into closes it.
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({false, true});
  testsupport::FakePointer pointer;
  ASSERT_TRUE(pointer.available()) << "no XTest on the X server";
  PopoverFixture f;
  auto content = std::make_shared<View>(QRectF(0, 0, 200, 100));
  auto field = std::make_shared<NativeHostView>(new QLineEdit);
  field->setFrame(QRectF(10, 10, 180, 30));
  content->addSubview(field);
  f.controller->setView(content);
  f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
  QWindow* own = f.popover->window()->widget()->windowHandle();
  f.popover->window()->makeFirstResponder(field.get());
  ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == own; })) << "the popover took the keys";
  QProcess other;
  testsupport::startThisProgramAgain(other,
                                     "Popover.SemiTransientClosesOnAPressInTheWindowItPointsIntoOnEscapeOrWhenItHides",
                                     {{kOtherProgramVariable, "1"}});
  QByteArray said;
  const auto otherSays = [&](const char* what) {
    return QTest::qWaitFor(
               [&] {
                 said += other.readAll();
                 return said.contains(what) || other.state() == QProcess::NotRunning;
               },
               30000) &&
           said.contains(what);
  };
  ASSERT_TRUE(otherSays("SHOWN")) << said.toStdString();
  pointer.moveTo(kOtherProgramArea.center());
  pointer.press();
  pointer.release();
  EXPECT_TRUE(otherSays("PRESSED")) << said.toStdString();
  // The keys went to the other program, and this one heard of it.
  const bool leftToTheOther = QTest::qWaitFor([&] {
    uitest::advance(0);
    return QGuiApplication::focusWindow() != own;
  });
  EXPECT_TRUE(leftToTheOther) << "the popover still has the keys; the other program said: " << said.toStdString();
  uitest::advance(0.1);
  EXPECT_TRUE(f.popover->isShown()) << "a press in another program's window closed the popover";
  testsupport::endProcess(other);

  pointer.moveTo(f.window->canvas()->mapToGlobal(QPoint(500, 350)));
  pointer.press();
  pointer.release();
  const bool closed = QTest::qWaitFor([&] {
    uitest::advance(0);
    return !f.popover->isShown();
  });
  EXPECT_TRUE(closed) << "a press in the window it points into left it open";
  EXPECT_EQ(f.root->downs, 1) << "the press still reached the window";
}

TEST(Popover, ApplicationDefinedStaysUntilClosedAndKeepsItselfAliveWhileShown) {
  PopoverFixture f;
  f.popover->setBehavior(Popover::ApplicationDefined);
  f.popover->showRelativeToRect(QRectF(10, 10, 20, 20), f.root.get(), RectEdge::MaxX);
  f.window->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(400, 300)));
  f.window->sendEvent(Event::key(EventType::KeyDown, KeyCode::Escape, "\x1b"));
  EXPECT_TRUE(f.popover->isShown());

  std::weak_ptr<Popover> weak = f.popover;
  Popover* raw = f.popover.get();
  f.popover = Popover::create();  // the caller lets go
  ASSERT_FALSE(weak.expired()) << "a shown popover keeps itself";
  raw->performClose();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(f.delegate.calls.back(), "didClose");
}

TEST(Popover, WithoutAWindowOrContentNothingShows) {
  PopoverFixture f;
  View loose(QRectF(0, 0, 50, 50));
  f.popover->showRelativeToRect(QRectF(0, 0, 10, 10), &loose, RectEdge::MaxY);
  EXPECT_FALSE(f.popover->isShown());
  auto empty = Popover::create();
  empty->showRelativeToRect(QRectF(0, 0, 10, 10), f.root.get(), RectEdge::MaxY);
  EXPECT_FALSE(empty->isShown());
  EXPECT_TRUE(f.delegate.calls.empty());
}

// Keys typed as the window system delivers them: to the focused window's focus object.
void typeIntoFocusedWindow(const QString& text) {
  QWindow* focused = QGuiApplication::focusWindow();
  ASSERT_NE(focused, nullptr);
  for (const QChar c : text) QTest::keyClick(focused, c.toLatin1());
}

TEST(Popover, OnlyContentThatTakesTypingTakesTheKeys) {
  PopoverFixture f;
  f.window->makeFirstResponder(f.root.get());
  QWindow* owner = f.window->widget()->windowHandle();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == owner; }));
  auto host = [&](QWidget* widget) {
    auto content = std::make_shared<View>(QRectF(0, 0, 200, 100));
    auto field = std::make_shared<NativeHostView>(widget);
    field->setFrame(QRectF(10, 10, 180, 80));
    content->addSubview(field);
    f.controller->setView(content);
    return field;
  };

  // A read-only text shows without taking the keys: typing still reaches the owner.
  auto* note = new QTextEdit;
  note->setReadOnly(true);
  note->setPlainText(QStringLiteral("note"));
  auto noteView = host(note);
  EXPECT_FALSE(noteView->takesKeys());
  f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
  EXPECT_FALSE(f.popover->takesKeyboardFocus());
  EXPECT_TRUE(f.popover->window()->widget()->windowFlags() & Qt::WindowDoesNotAcceptFocus);
  // Whatever the window system does with the popover, the owner ends up active.
  QCoreApplication::processEvents();
  EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == owner; }));
  EXPECT_EQ(Application::shared().keyWindow(), f.window.get());
  typeIntoFocusedWindow(QStringLiteral(" x"));
  EXPECT_EQ(f.root->typed, QStringLiteral(" x")) << "Space and letters reach the owner's first responder";
  EXPECT_EQ(note->toPlainText(), QStringLiteral("note"));
  f.popover->close();

  // A line edit takes them, and gives them back on close.
  auto* line = new QLineEdit;
  auto lineView = host(line);
  EXPECT_TRUE(lineView->takesKeys());
  f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
  EXPECT_TRUE(f.popover->takesKeyboardFocus());
  f.popover->window()->makeFirstResponder(lineView.get());
  QWindow* own = f.popover->window()->widget()->windowHandle();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == own; }));
  typeIntoFocusedWindow(QStringLiteral("moon"));
  EXPECT_EQ(line->text(), QStringLiteral("moon"));
  EXPECT_EQ(f.root->typed, QStringLiteral(" x"));
  f.popover->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == owner; })) << "the owner is active again";

  // The hosting view may say otherwise than its widget.
  lineView->setTakesKeys(false);
  f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
  EXPECT_FALSE(f.popover->takesKeyboardFocus());
  f.popover->close();
  note->setFocusPolicy(Qt::NoFocus);
  note->setReadOnly(false);
  EXPECT_FALSE(noteView->takesKeys()) << "a widget that refuses focus takes no keys";
}

// However the window system orders the activations, typing meant for a popover's field lands
// there and the field shows its caret.
TEST(Popover, ItsFieldKeepsTheTypingWhenActivationArrivesLateOrFindsTheFieldHidden) {
  struct Case {
    const char* what;
    std::function<void(Window& owner, Window& own, QLineEdit& line)> disturb;
    const char* typedMeanwhile = "";
  };
  const auto activate = [](Window& w) { w.widget()->activateWindow(); };
  const Case cases[] = {
      {"the owner window is activated after its popover", [&](Window& owner, Window&, QLineEdit&) { activate(owner); }},
      {"the popover's activation finds the field hidden",
       [&](Window& owner, Window& own, QLineEdit& line) {
         activate(owner);
         ASSERT_TRUE(QTest::qWaitFor([&] { return owner.widget()->isActiveWindow(); }));
         line.hide();
         own.widget()->activateWindow();
         ASSERT_TRUE(QTest::qWaitFor([&] { return own.widget()->isActiveWindow(); }));
         ASSERT_FALSE(line.hasFocus()) << "Qt passes a hidden focus widget over";
         own.displayIfNeeded();  // the field shows again
       }},
      {"a click elsewhere in the popover moves Qt's focus",
       [&](Window&, Window& own, QLineEdit&) { own.canvas()->setFocus(Qt::MouseFocusReason); }},
      {"keys typed while the owner is still active",
       [&](Window& owner, Window&, QLineEdit&) {
         activate(owner);
         ASSERT_TRUE(QTest::qWaitFor([&] { return owner.widget()->isActiveWindow(); }));
         typeIntoFocusedWindow(QStringLiteral("sun "));
       },
       "sun "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PopoverFixture f;
    auto content = std::make_shared<View>(QRectF(0, 0, 200, 100));
    auto* line = new QLineEdit;
    auto field = std::make_shared<NativeHostView>(line);
    field->setFrame(QRectF(10, 10, 180, 30));
    content->addSubview(field);
    f.controller->setView(content);
    f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
    Window& own = *f.popover->window();
    own.makeFirstResponder(field.get());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == own.widget()->windowHandle(); }));

    c.disturb(*f.window, own, *line);
    const bool settled = QTest::qWaitFor([&] {
      uitest::advance(0);
      return QGuiApplication::focusWindow() == own.widget()->windowHandle() && line->hasFocus();
    });
    EXPECT_TRUE(settled) << "the popover is active and its field has the caret";
    typeIntoFocusedWindow(QStringLiteral("moon"));
    EXPECT_EQ(line->text(), QString::fromLatin1(c.typedMeanwhile) + QStringLiteral("moon"));
    EXPECT_EQ(f.root->typed, QString()) << "nothing reaches the window behind";
  }
}

// On a real screen, with and without a window manager: a press on a field of the window the
// popover points into closes it and takes the typing; a press on its own field keeps it.
TEST(Popover, APressOnAFieldOfTheWindowItPointsIntoClosesItAndTheFieldTakesTheTyping) {
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({false, true});
  testsupport::FakePointer pointer;
  ASSERT_TRUE(pointer.available()) << "no XTest on the X server";
  const struct {
    const char* what;
    bool takesKeys;
    NativeHostView::Placement search;
  } rows[] = {{"a popover with a field", true, NativeHostView::Placement::InCanvas},
              {"a popover with a read-only note", false, NativeHostView::Placement::InCanvas},
              {"a field in a window of its own", true, NativeHostView::Placement::InWindowOfItsOwn}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PopoverFixture f;
    auto* search = new QLineEdit;
    auto searchView = std::make_shared<NativeHostView>(search, row.search);
    searchView->setFrame(QRectF(200, 8, 200, 24));
    f.root->addSubview(searchView);
    f.window->makeFirstResponder(f.root.get());
    auto* own = new QTextEdit(QStringLiteral("Launch plan"));
    own->setReadOnly(!row.takesKeys);
    auto content = std::make_shared<View>(QRectF(0, 0, 200, 100));
    auto ownView = std::make_shared<NativeHostView>(own);
    ownView->setFrame(QRectF(10, 10, 180, 80));
    content->addSubview(ownView);
    f.controller->setView(content);
    f.popover->showRelativeToRect(QRectF(250, 150, 20, 20), f.root.get(), RectEdge::MaxY);
    if (row.takesKeys) f.popover->window()->makeFirstResponder(ownView.get());
    QWindow* keysAt = (row.takesKeys ? f.popover->window() : f.window.get())->widget()->windowHandle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == keysAt; }));
    testsupport::letTheWindowManagerAnswer(200);

    EXPECT_TRUE(pointer.click(own));
    testsupport::letTheWindowManagerAnswer(200);
    EXPECT_TRUE(f.popover->isShown()) << "a press on its own field closed it";
    EXPECT_TRUE(pointer.click(search));
    const bool settled = QTest::qWaitFor([&] {
      uitest::advance(0);
      return !f.popover->isShown() && QGuiApplication::focusObject() == search;
    });
    EXPECT_TRUE(settled) << "shown: " << f.popover->isShown() << ", the field has the keys: "
                         << (QGuiApplication::focusObject() == search);
    typeIntoFocusedWindow(QStringLiteral("Food"));
    EXPECT_EQ(search->text(), QStringLiteral("Food"))
        << "its own field has: " << own->toPlainText().toStdString() << ", the window: " << f.root->typed.toStdString();
  }
}

TEST(Popover, ItsWindowShowsNoMenuBarUnderTheApplicationsMainMenu) {
  auto previous = Application::shared().mainMenu();
  auto main = std::make_shared<Menu>();
  auto file = std::make_shared<Menu>(QStringLiteral("File"));
  file->addActionItem(QStringLiteral("Close"), QStringLiteral("performClose"), QStringLiteral("w"));
  auto holder = std::make_shared<MenuItem>(QStringLiteral("File"), QString());
  holder->setSubmenu(file);
  main->addItem(holder);
  Application::shared().setMainMenu(main);
  {
    PopoverFixture f;
    f.popover->showRelativeToRect(QRectF(250, 100, 20, 20), f.root.get(), RectEdge::MaxY);
    QMainWindow* widget = f.popover->window()->widget();
    EXPECT_EQ(f.popover->window()->canvas()->geometry(), QRect(QPoint(0, 0), widget->size()))
        << "the bubble fills the popover's window";
    EXPECT_TRUE(!f.popover->window()->menuBar() || !f.popover->window()->menuBar()->isVisible());
  }
  Application::shared().setMainMenu(previous);
}

// A button in a popover that grows the popover while its window dispatches the click.
class GrowButton : public View {
 public:
  using View::View;
  std::weak_ptr<Popover> popover;
  void mouseDown(const Event&) override {
    if (auto p = popover.lock()) p->setContentSize(QSizeF(200, 300));
  }
};

TEST(Popover, ANewSizeAppliesAtOnceInItsOwnWindowWhichKeepsTheKeys) {
  PopoverFixture f;
  auto content = std::make_shared<View>(QRectF(0, 0, 200, 100));
  auto field = std::make_shared<NativeHostView>(new QLineEdit);
  field->setFrame(QRectF(10, 10, 180, 26));
  content->addSubview(field);
  auto grow = std::make_shared<GrowButton>(QRectF(10, 50, 40, 40));
  grow->popover = f.popover;
  content->addSubview(grow);
  f.controller->setView(content);
  f.popover->setContentSize(QSizeF(200, 100));
  const QRectF anchor(250, 100, 20, 20);
  f.popover->showRelativeToRect(anchor, f.root.get(), RectEdge::MaxY);
  ASSERT_TRUE(f.popover->takesKeyboardFocus());
  Window* window = f.popover->window();
  const QPointF tipBefore = f.popover->arrowTip();

  const QPointF inGrow = grow->convertPointToView(QPointF(20, 20), nullptr);
  window->sendEvent(Event::mouse(EventType::LeftMouseDown, inGrow));
  window->sendEvent(Event::mouse(EventType::LeftMouseUp, inGrow));
  EXPECT_EQ(f.popover->window(), window) << "the same window, resized while it dispatched the click";
  EXPECT_EQ(f.popover->frame().size(), QSizeF(200, 300 + Popover::kArrowLength));
  EXPECT_EQ(window->widget()->size(), f.popover->frame().size().toSize());
  EXPECT_EQ(content->frame(), QRectF(0, Popover::kArrowLength, 200, 300));
  EXPECT_EQ(f.popover->arrowTip(), tipBefore) << "it still points at the anchor";
  const QImage picture = window->snapshot();
  EXPECT_GT(picture.pixelColor(QPoint(100, 300)).alpha(), 200) << "the bubble reaches the new bottom";
  EXPECT_TRUE(window->widget()->mask().contains(QPoint(100, 300))) << "and so does the window's shape";

  // Without its field the content shows in the same window, which keeps the keys.
  field->removeFromSuperview();
  f.popover->setContentSize(QSizeF(200, 120));
  EXPECT_EQ(f.popover->window(), window);
  EXPECT_TRUE(f.popover->takesKeyboardFocus());
  EXPECT_EQ(f.delegate.calls, (std::vector<std::string>{"willShow", "didShow"})) << "resizing is no second show";
}
