// The edit popover's arrow points at what it edits (the sun, a planet at the window's top,
// bottom, left or right, the adder of a new child) on every tab, in windows of several sizes:
// offscreen on a 1440 × 900 and a 1024 × 720 screen, and on an X server with a window manager
// (openbox) and without, where the X server says where the windows really stand and shows no
// black pixel around the bubble (beside the arrow, at the rounded corners) where a translucent
// window's clear or half-clear pixels went unblended.

#include "screen_check.h"

#include "controller_test_support.h"

#include "app/menu_helper.h"
#include "app/window_placement.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/ui/application.h"
#include "platform/ui/event.h"
#include "platform/ui/popover.h"
#include "support/window_manager_child.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <vector>

using namespace controllertest;

namespace arrowcheck {

bool onXServer() { return QGuiApplication::platformName() == QStringLiteral("xcb"); }

// Where a widget's top-left corner is on the screen: on an X server, where the server has it.
QPointF onScreen(QWidget* widget) {
  if (!onXServer()) return widget->mapToGlobal(QPointF(0, 0));
  QWidget* top = widget->window();
  return QPointF(testsupport::serverPosition(top) + widget->mapTo(top, QPoint(0, 0)));
}

std::string text(const QRectF& r) {
  return QStringLiteral("%1, %2 (%3 × %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Darker than the bubble's faint outline ever draws: black.
bool black(QRgb pixel) { return std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)}) < 100; }

// What the X server showed of a popover's frame, to be held against what lies beneath once it
// has closed.
struct ServerShot {
  QRect frame;  // on the screen
  QImage pixels;
  platform::RectEdge edge;
  QString where;
};

// Around the bubble, in the frame: the strip the arrow stands in and the squares of the rounded
// corners.
bool aroundTheBubble(const QPoint& at, const QSize& frame, platform::RectEdge edge) {
  const int arrow = int(platform::Popover::kArrowLength);
  const int corner = int(platform::Popover::kCornerRadius) + 1;
  QRect bubble(QPoint(0, 0), frame);
  switch (edge) {
    case platform::RectEdge::MaxY: bubble.setTop(arrow); break;
    case platform::RectEdge::MinY: bubble.setBottom(bubble.bottom() - arrow); break;
    case platform::RectEdge::MaxX: bubble.setLeft(arrow); break;
    case platform::RectEdge::MinX: bubble.setRight(bubble.right() - arrow); break;
  }
  if (!bubble.contains(at)) return true;
  const bool nearSide = at.x() < bubble.left() + corner || at.x() > bubble.right() - corner;
  const bool nearEnd = at.y() < bubble.top() + corner || at.y() > bubble.bottom() - corner;
  return nearSide && nearEnd;
}

// The black pixels the popover showed around its bubble where what lies beneath is not black.
void expectNoBlackAroundTheBubble(const ServerShot& shot) {
  const QImage beneath = testsupport::serverPixels(shot.frame);
  ASSERT_EQ(beneath.size(), shot.pixels.size()) << shot.where.toStdString();
  QStringList found;
  for (int y = 0; y < beneath.height(); ++y)
    for (int x = 0; x < beneath.width(); ++x)
      if (aroundTheBubble(QPoint(x, y), beneath.size(), shot.edge) && black(shot.pixels.pixel(x, y)) &&
          !black(beneath.pixel(x, y)))
        found << QStringLiteral("%1, %2").arg(x).arg(y);
  EXPECT_TRUE(found.isEmpty()) << shot.where.toStdString() << ": " << found.size()
                               << " black pixels around the bubble, in the frame at "
                               << found.mid(0, 8).join(QStringLiteral("; ")).toStdString();
}

// A window frame on a screen of a given size (a place whose screen is missing is left out).
struct Place {
  const char* name;
  QSizeF screen;
  bool whole;  // the whole available screen; else the default frame, or `size` at the bottom right
  QSizeF size;
};
const Place kPlaces[] = {
    {"default", QSizeF(1440, 900), false, QSizeF()},
    {"whole_1440x900", QSizeF(1440, 900), true, QSizeF()},
    {"1024x720_bottom_right", QSizeF(1440, 900), false, QSizeF(1024, 720)},
    {"whole_1024x720", QSizeF(1024, 720), true, QSizeF()},
};

QScreen* screenOfSize(const QSizeF& size) {
  for (QScreen* screen : QGuiApplication::screens())
    if (QSizeF(screen->geometry().size()) == size) return screen;
  return nullptr;
}

QRectF frameFor(const Place& place, const QRectF& area) {
  if (place.whole) return area;
  if (place.size.isEmpty()) return orrery::placement::newWindowFrame(area);
  return QRectF(area.bottomRight() - QPointF(place.size.width(), place.size.height()), place.size);
}

class EditPopoverArrow : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    platform::Application::shared().setMainMenu(orrery::MenuHelper::createMainMenu(nullptr));
  }
  void TearDown() override {
    editor.reset();
    platform::Application::shared().setMainMenu(nullptr);
    ControllerTest::TearDown();
  }

  // Waits for the window manager on an X server, for the virtual clock offscreen.
  static void settle(int millis) {
    if (onXServer()) return testsupport::letTheWindowManagerAnswer(millis);
    uitest::advance(0.5);
  }

  // A map of `count` planets around its sun in a window at `frame`.
  void open(int count, const QRectF& frame, const QString& name) {
    editor.reset();
    root = idea(QStringLiteral("Trip"));
    for (int i = 0; i < count; ++i) root->addIdea(idea(QStringLiteral("Stop %1").arg(i + 1), i + 1));
    opened = createLocal(path(name + QStringLiteral(".orrery")), root);
    ASSERT_GE(opened.token, 1);
    editor =
        std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    editor->window().makeKeyAndOrderFront();
    editor->window().setFrame(frame);
    settle(300);
  }
  SolarSystemViewController& c() { return *editor->controller; }
  orrery::EditIdeaViewController* panel() {
    const auto& popover = c().editPopover();
    return popover ? dynamic_cast<orrery::EditIdeaViewController*>(popover->contentViewController().get()) : nullptr;
  }

  // The planets at the window's top, bottom, left and right.
  std::vector<std::pair<const char*, std::int64_t>> planetsAtTheEdges() {
    std::int64_t top = 0, bottom = 0, left = 0, right = 0;
    for (std::int64_t i = 1; i < editor->radial().ideaViewCount(); ++i) {
      const QPointF p = editor->planet(i);
      if (p.y() < editor->planet(top).y()) top = i;
      if (p.y() > editor->planet(bottom).y()) bottom = i;
      if (p.x() < editor->planet(left).x()) left = i;
      if (p.x() > editor->planet(right).x()) right = i;
    }
    return {{"top", top}, {"bottom", bottom}, {"left", left}, {"right", right}};
  }

  // Where a rectangle of the radial map stands in its window.
  QRectF inWindow(const QRectF& inRadial) { return editor->radial().convertRectToView(inRadial, nullptr); }

  // On every tab, the arrow's tip as the screen shows it lies on `target` (in window coordinates).
  void expectArrowOnEveryTab(const QRectF& target, const QString& where, bool keepPictures = false) {
    ASSERT_TRUE(panel()) << where.toStdString();
    platform::Popover& popover = *c().editPopover();
    const QRectF anchor = target.translated(onScreen(editor->window().canvas()));
    const std::int64_t tabs[] = {0, 1, 2, 0};
    std::vector<ServerShot> shots;
    for (std::size_t step = 0; step < std::size(tabs); ++step) {
      const std::int64_t tab = tabs[step];
      if (tab != panel()->currentTab()) panel()->editViewTabBarUserSelectedItem(*panel()->tabBar(), tab);
      settle(step == 0 ? 300 : 100);  // the first after its fade-in
      ASSERT_TRUE(popover.isShown() && popover.window()) << where.toStdString();
      QWidget* shown = popover.window()->widget();
      const QRectF frame(onScreen(shown), QSizeF(shown->size()));
      const QPointF tip = frame.topLeft() + popover.arrowTip() - popover.frame().topLeft();
      EXPECT_TRUE(anchor.adjusted(-3, -3, 3, 3).contains(tip))
          << where.toStdString() << ", tab " << tab << ": the arrow's tip at " << tip.x() << ", " << tip.y()
          << " misses " << text(anchor) << "; the popover stands at " << text(frame);
      if (QScreen* screen = shown->screen()) {
        EXPECT_TRUE(QRectF(screen->availableGeometry()).adjusted(-1, -1, 1, 1).contains(frame))
            << where.toStdString() << ", tab " << tab << ": the popover at " << text(frame) << " leaves the screen";
      }
      if (onXServer()) {
        const QRect onServer = frame.toRect();
        shots.push_back({onServer, testsupport::serverPixels(onServer), popover.shownEdge(),
                         QStringLiteral("%1, tab %2").arg(where).arg(tab)});
        ASSERT_FALSE(shots.back().pixels.isNull()) << where.toStdString();
      }
      if (keepPictures && onXServer())
        screencheck::keepPicture(shown->screen()->grabWindow(0).toImage(),
                                 QStringLiteral("%1_%2_tab%3").arg(where).arg(step + 1).arg(tab));
    }
    popover.performClose();
    settle(100);
    for (const ServerShot& shot : shots) expectNoBlackAroundTheBubble(shot);
  }

  // Every place and every anchor: the sun, the planets at the edges, and adder 0 of an empty
  // map, opened by the first Space.
  void checkEveryPlace() {
    QString session = QStringLiteral("offscreen");
    if (onXServer())
      session = testsupport::childHasWindowManager() ? QStringLiteral("openbox") : QStringLiteral("bare_x");
    for (const Place& place : kPlaces) {
      QScreen* screen = screenOfSize(place.screen);
      if (!screen) continue;
      const QRectF frame = frameFor(place, QRectF(screen->availableGeometry()));
      const QString prefix = QStringLiteral("popover_arrow_%1_%2").arg(session, QString::fromLatin1(place.name));
      open(8, frame, prefix);
      c().onEditIdea(root->identifier());
      expectArrowOnEveryTab(inWindow(editor->radial().centralView()->frame()), prefix + QStringLiteral("_sun"));
      for (const auto& [edge, index] : planetsAtTheEdges()) {
        c().onEditIdea(root->ideas()[static_cast<std::size_t>(index)]->identifier());
        const bool picture = std::string(edge) == "top" || std::string(edge) == "bottom";
        expectArrowOnEveryTab(inWindow(editor->radial().ideaViewAtIndex(index)->frame()),
                              prefix + QStringLiteral("_") + QString::fromLatin1(edge), picture);
      }
      open(0, frame, prefix + QStringLiteral("_empty"));
      editor->window().sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Space,
                                                      QStringLiteral(" "), 0, uitest::clock().now()));
      expectArrowOnEveryTab(inWindow(editor->radial().ideaAdderViewAtIndex(0)->frame()),
                            prefix + QStringLiteral("_adder0"));
    }
  }

  std::unique_ptr<EditorWindow> editor;
  Opened opened;
  IdeaPtr root;
};

}  // namespace arrowcheck

using arrowcheck::EditPopoverArrow;

TEST_F(EditPopoverArrow, PointsAtWhatItEditsOnEveryTabOffscreen) { checkEveryPlace(); }

TEST_F(EditPopoverArrow, PointsAtWhatItEditsOnEveryTabOnAnXServerWithAndWithoutAWindowManager) {
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({true, false});
  checkEveryPlace();
}
