#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/qt_modal_presenter.h"
#include "platform/ui/scroll_view.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

using namespace platform;

namespace {

Event at(EventType type, double x, double y) { return Event::mouse(type, QPointF(x, y)); }

// A view with two cursor areas side by side, as a splitter with two handles has.
class TwoCursorView : public View {
 public:
  using View::View;
  void resetCursorRects() override {
    addCursorRect(QRectF(0, 0, 50, 50), Cursor::IBeam);
    addCursorRect(QRectF(50, 0, 50, 50), Cursor::PointingHand);
  }
};

// Records the click counts of the mouse-downs that reach it.
class ClickRecorder : public View {
 public:
  using View::View;
  void mouseDown(const Event& e) override { counts.push_back(e.clickCount); }
  std::vector<int> counts;
};

}  // namespace

TEST(CursorRects, EachRectShowsItsCursorAlsoWithinOneViewAndTheUpperViewWins) {
  Window window(QSizeF(400, 300));
  auto root = std::make_shared<View>();
  window.setContentView(root);
  auto pair = std::make_shared<TwoCursorView>(QRectF(100, 100, 100, 50));
  root->addSubview(pair);

  window.sendEvent(at(EventType::MouseMoved, 110, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::IBeam);
  window.sendEvent(at(EventType::MouseMoved, 160, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::PointingHand) << "the second rect of the same view";
  window.sendEvent(at(EventType::MouseMoved, 110, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::IBeam);
  window.sendEvent(at(EventType::MouseMoved, 10, 10));
  EXPECT_EQ(window.currentCursor(), Cursor::Arrow);

  // A view above covers the one below; hidden, it gives way again.
  auto cover = std::make_shared<TwoCursorView>(QRectF(100, 100, 50, 50));
  root->addSubview(cover);
  window.sendEvent(at(EventType::MouseMoved, 140, 110));  // cover's second rect would start at 150
  EXPECT_EQ(window.currentCursor(), Cursor::IBeam);
  window.sendEvent(at(EventType::MouseMoved, 160, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::PointingHand);
  cover->setFrame(QRectF(100, 100, 100, 50));
  window.sendEvent(at(EventType::MouseMoved, 161, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::PointingHand);
  cover->setHidden(true);
  window.sendEvent(at(EventType::MouseMoved, 110, 110));
  EXPECT_EQ(window.currentCursor(), Cursor::IBeam);
}

TEST(MenuValidation, AContextMenuValidatesAndPerformsAlongItsOwnViewsChain) {
  uitest::PresenterScope presenter;
  struct Editor : View {
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
  };
  struct Container : View {
    using View::View;
    bool validateUserInterfaceItem(const MenuItem& item) override { return item.action() != "paste:"; }
  };
  // Another window is key; the menu belongs to a view in the other one.
  Window key(QSizeF(200, 200));
  Window other(QSizeF(200, 200));
  Application::shared().setKeyWindow(&key);
  int keyCopies = 0, otherCopies = 0;
  key.setActionHandler("copy:", [&](const ActionSender&) { ++keyCopies; });
  auto root = std::make_shared<Container>();
  other.setContentView(root);
  root->setActionHandler("paste:", [](const ActionSender&) {});
  auto editor = std::make_shared<Editor>(QRectF(10, 10, 50, 50));
  root->addSubview(editor);
  editor->setActionHandler("copy:", [&](const ActionSender&) { ++otherCopies; });
  ASSERT_TRUE(other.makeFirstResponder(editor.get()));

  auto menu = std::make_shared<Menu>("Context");
  auto copy = menu->addActionItem("Copy", "copy:");
  auto paste = menu->addActionItem("Paste", "paste:");
  auto nobody = menu->addActionItem("Nobody", "nobody:");
  presenter->menuAnswers.push_back(0);
  EXPECT_TRUE(menu->popUp(QPointF(5, 5), editor.get()));
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(paste->isEnabled()) << "the responder that handles it refuses it now";
  EXPECT_FALSE(nobody->isEnabled());
  EXPECT_EQ(otherCopies, 1) << "performed by the responder it was validated on";
  EXPECT_EQ(keyCopies, 0);

  // A disabled choice does nothing.
  presenter->menuAnswers.push_back(1);
  EXPECT_FALSE(menu->popUp(QPointF(5, 5), editor.get()));
  Application::shared().setKeyWindow(nullptr);
}

TEST(ClickCounts, QtsDoubleClickCountsTwoAndASlowDistantOrOtherButtonPressStartsOver) {
  Window window(QSizeF(200, 200));
  auto root = std::make_shared<View>();
  window.setContentView(root);
  auto target = std::make_shared<ClickRecorder>(QRectF(0, 0, 200, 200));
  root->addSubview(target);
  QWidget* canvas = window.canvas();
  auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, canvas->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
  };
  // What Qt hands a widget for a double click: press, release, double-click, release.
  send(QEvent::MouseButtonPress, {50, 50});
  send(QEvent::MouseButtonRelease, {50, 50});
  send(QEvent::MouseButtonDblClick, {51, 50});
  send(QEvent::MouseButtonRelease, {51, 50});
  send(QEvent::MouseButtonPress, {51, 51});  // a third quick press: a triple click
  send(QEvent::MouseButtonRelease, {51, 51});
  EXPECT_EQ(target->counts, (std::vector<int>{1, 2, 3}));

  target->counts.clear();
  send(QEvent::MouseButtonPress, {120, 120});  // too far from the last press
  send(QEvent::MouseButtonRelease, {120, 120});
  uitest::advance(QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0 + 0.05);
  send(QEvent::MouseButtonPress, {120, 120});  // too late
  send(QEvent::MouseButtonRelease, {120, 120});
  send(QEvent::MouseButtonPress, {120, 120}, Qt::RightButton);  // another button
  send(QEvent::MouseButtonRelease, {120, 120}, Qt::RightButton);
  send(QEvent::MouseButtonDblClick, {120, 120});  // a left press again, within the interval
  // The right-button press reaches rightMouseDown, not this recorder.
  EXPECT_EQ(target->counts, (std::vector<int>{1, 1, 1}));
}

TEST(ScrollViewZoom, MagnifyingKeepsThePointUnderThePointerAndWheelingStaysInTheDocument) {
  Window window(QSizeF(200, 100));
  auto scroll = std::make_shared<ScrollView>(QRectF(0, 0, 200, 100));
  window.setContentView(scroll);
  scroll->setDocumentView(std::make_shared<View>(QRectF(0, 0, 1000, 500)));
  scroll->setAllowsMagnification(true);
  scroll->scrollToPoint(QPointF(100, 50));

  // A pinch at (40, 30) in the window: the document point under it stays under it.
  const QPointF pointer(40, 30);
  const QPointF before = scroll->documentView()->convertPoint(pointer, nullptr);
  Event pinch = at(EventType::Magnify, pointer.x(), pointer.y());
  pinch.magnification = 1.0;
  window.sendEvent(pinch);
  EXPECT_DOUBLE_EQ(scroll->magnification(), 2.0);
  const QPointF after = scroll->documentView()->convertPoint(pointer, nullptr);
  EXPECT_NEAR(after.x(), before.x(), 1e-9);
  EXPECT_NEAR(after.y(), before.y(), 1e-9);
  EXPECT_EQ(scroll->documentVisibleRect().size(), QSizeF(100, 50));

  // Magnification stops at its limits, whatever the gesture asks.
  pinch.magnification = 10;
  window.sendEvent(pinch);
  EXPECT_DOUBLE_EQ(scroll->magnification(), scroll->maxMagnification());
  pinch.magnification = -0.99;
  window.sendEvent(pinch);
  EXPECT_DOUBLE_EQ(scroll->magnification(), scroll->minMagnification());

  // A wheel moves the document by the pointer's points: precise deltas as they are, coarse ones
  // by lines, both divided by the magnification; the document's edges stop it.
  scroll->setMagnification(2.0, QPointF(0, 0));
  scroll->scrollToPoint(QPointF(200, 100));
  Event wheel = at(EventType::ScrollWheel, 50, 50);
  wheel.hasPreciseScrollingDeltas = true;
  wheel.scrollingDeltaY = -20;  // content moves up: further down the document
  window.sendEvent(wheel);
  EXPECT_EQ(scroll->scrollPosition(), QPointF(200, 110));
  // A notch moves the desktop's wheel step: its number of lines of one text line.
  const int lines = QApplication::wheelScrollLines();
  QApplication::setWheelScrollLines(2);
  const double notch = 2 * QFontMetricsF(QApplication::font()).lineSpacing();
  wheel.hasPreciseScrollingDeltas = false;
  wheel.scrollingDeltaY = 0;
  wheel.scrollingDeltaX = 2;  // two notches to the left
  window.sendEvent(wheel);
  QApplication::setWheelScrollLines(lines);
  EXPECT_NEAR(scroll->scrollPosition().x(), 200 - 2 * notch / 2, 1e-9);
  EXPECT_EQ(scroll->scrollPosition().y(), 110);
  wheel.scrollingDeltaX = -1000;
  wheel.scrollingDeltaY = -1000;
  window.sendEvent(wheel);
  EXPECT_EQ(scroll->scrollPosition(), QPointF(900, 450)) << "the bottom-right end of the document";
}

TEST(ScrollViewKeys, PagesMoveByWhatIsShownLessALineAndHomeAndEndGoToTheEnds) {
  Window window(QSizeF(200, 100));
  auto scroll = std::make_shared<ScrollView>(QRectF(0, 0, 200, 100));
  window.setContentView(scroll);
  // The document takes the focus, as a grid of tiles does; the keys it leaves reach the scroll view.
  struct Document : View {
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
  };
  scroll->setDocumentView(std::make_shared<Document>(QRectF(0, 0, 200, 1000)));
  ASSERT_TRUE(window.makeFirstResponder(scroll->documentView().get()));
  const double line = QFontMetricsF(QApplication::font()).lineSpacing();
  struct Case {
    int key;
    Qt::KeyboardModifiers modifiers;
    double from, to;
  };
  const Case cases[] = {
      {Qt::Key_PageDown, Qt::NoModifier, 0, 100 - line},
      {Qt::Key_PageUp, Qt::NoModifier, 500, 400 + line},
      {Qt::Key_PageDown, Qt::NoModifier, 880, 900},
      {Qt::Key_PageUp, Qt::NoModifier, 10, 0},
      {Qt::Key_End, Qt::NoModifier, 0, 900},
      {Qt::Key_Home, Qt::NoModifier, 500, 0},
      {Qt::Key_PageDown, Qt::ControlModifier, 0, 0},
      {Qt::Key_A, Qt::NoModifier, 300, 300},
  };
  for (const Case& c : cases) {
    scroll->scrollToPoint(QPointF(0, c.from));
    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers);
    QApplication::sendEvent(window.canvas(), &press);
    EXPECT_NEAR(scroll->scrollPosition().y(), c.to, 1e-9) << "key " << c.key << " from " << c.from;
  }
}

TEST(QtModalPresenterTest, ReturnAnswersTheFirstButtonAndEscapeTheCancelOne) {
  QtModalPresenter presenter;
  AlertRequest request{"Delete the map?", "It cannot be undone.",
                       {{"Delete", AlertButton::Role::Destructive}, {"Cancel", AlertButton::Role::Cancel}, {"Later"}}};
  auto pressWhenShown = [](int key) {
    QTimer::singleShot(0, [key] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(box, &press);
    });
  };
  pressWhenShown(Qt::Key_Return);
  EXPECT_EQ(presenter.runAlert(request), kAlertFirstButtonReturn);
  pressWhenShown(Qt::Key_Escape);
  EXPECT_EQ(presenter.runAlert(request), kAlertFirstButtonReturn + 1);

  // Buttons keep their order: the third answers 1002.
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 3);
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "Later") b->click();
  });
  EXPECT_EQ(presenter.runAlert(request), kAlertFirstButtonReturn + 2);
}

TEST(QtModalPresenterTest, AMenuNearTheWindowsCornerOpensInwardAndElsewhereAtThePoint) {
  QtModalPresenter presenter;
  Window window(QSizeF(400, 300));
  window.setContentView(std::make_shared<View>(QRectF(0, 0, 400, 300)));
  window.makeKeyAndOrderFront();
  Menu menu{QString()};
  for (const char* title : {"Add Image", "Add Web Link"}) {
    auto item = std::make_shared<MenuItem>();
    item->setTitle(QString::fromLatin1(title));
    menu.addItem(item);
  }
  const QRect area(window.canvas()->mapToGlobal(QPoint(0, 0)), window.canvas()->size());
  auto shownAt = [&](QPointF location) {
    QRect shown;
    QTimer::singleShot(0, [&shown] {
      QWidget* popup = QApplication::activePopupWidget();
      ASSERT_NE(popup, nullptr);
      shown = popup->geometry();
      popup->close();
    });
    EXPECT_EQ(presenter.popUpMenu(menu, location, &window), nullptr) << "closed without a choice";
    return shown;
  };

  const QRect nearCorner = shownAt(QPointF(395, 295));
  ASSERT_FALSE(nearCorner.isEmpty());
  EXPECT_TRUE(area.contains(nearCorner)) << "inside the window, not past its edges";
  const QRect atPoint = shownAt(QPointF(20, 30));
  EXPECT_EQ(atPoint.topLeft(), area.topLeft() + QPoint(20, 30)) << "with room it opens at the point";
}

TEST(QtModalPresenterTest, AFilePanelForAMissingFolderOpensAtHomeWithNoNameFilledIn) {
  QtModalPresenter presenter;
  FilePanelRequest request;
  request.kind = FilePanelRequest::Kind::Open;
  request.allowedFileTypes = {"orrery"};
  request.directory = QDir::home().filePath("Desktop-that-is-not-there");
  std::optional<FilePanelResult> result;
  presenter.beginFilePanel(request, nullptr, [&](FilePanelResult r) { result = r; });
  QFileDialog* dialog = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir::home().canonicalPath());
  const QStringList chosen = dialog->selectedFiles();
  EXPECT_TRUE(chosen.isEmpty() || QFileInfo(chosen.front()).isDir()) << chosen.join(", ").toStdString();
  dialog->reject();
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->response, kModalResponseCancel);
}

// Through Qt's own key path (where a widget would take Tab for focus chaining): Tab, Shift+Tab,
// Return and keypad Enter become the window's actions along the chain from the first responder.
TEST(KeyActions, TabBacktabReturnAndEnterBecomeActionsOfTheFirstRespondersChain) {
  struct Field : View {
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
  };
  Window window(QSizeF(200, 200));
  auto root = std::make_shared<View>();
  window.setContentView(root);
  auto field = std::make_shared<Field>(QRectF(10, 10, 50, 20));
  root->addSubview(field);
  ASSERT_TRUE(window.makeFirstResponder(field.get()));
  std::vector<QString> actions;
  for (const QString& action : {Actions::insertTab, Actions::insertBacktab, Actions::insertNewline})
    root->setActionHandler(action, [&actions, action](const ActionSender&) { actions.push_back(action); });

  QWidget* canvas = window.canvas();
  auto press = [&](int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(canvas, &event);
  };
  press(Qt::Key_Tab, Qt::NoModifier);
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  press(Qt::Key_Return, Qt::NoModifier);
  press(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(actions, (std::vector<QString>{Actions::insertTab, Actions::insertBacktab, Actions::insertNewline,
                                           Actions::insertNewline}));
  EXPECT_EQ(window.firstResponder(), field.get()) << "Tab moves no Qt focus and no first responder";
}
