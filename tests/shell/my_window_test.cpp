#include "shell/screen_factory.h"
#include "shell/my_window.h"

#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/search_text_field.h"
#include "model/idea.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "platform/services/resources.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "shell/top_bar_view.h"
#include "support/memory_persistence_state.h"
#include "ui_test_env.h"

#include <QApplication>
#include <QHelpEvent>
#include <QIcon>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QToolTip>

#include <cstdlib>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

class SwitchedScreen : public BaseViewController {
 public:
  bool canClose = true;
  bool canDelete = true;
  int topLevel = 0;
  bool startClosingCanCloseNow() override { return canClose; }
  bool canWeSafelyDeleteIdea(const QString&, const QString&) override { return canDelete; }
  void becameTopLevelController() override { ++topLevel; }
};

struct DirtyCounter : ApplicationDelegate {
  int dirty = 0;
  void addNewRecentDocumentURL(const QUrl&) override {}
  bool canWeSafelyDeleteIdea(const QString&, const QString&) override { return true; }
  bool isFileCurrentlyOpen(const QUrl&) override { return false; }
  void markPersistentAppStateDirty() override { ++dirty; }
  void openDocumentInNewWindow(const QString&, const QString&) override {}
};

struct AppScope {
  DirtyCounter app;
  ApplicationDelegate* previous = Globals::app();
  AppScope() { Globals::setApp(&app); }
  ~AppScope() { Globals::setApp(previous); }
};

std::vector<std::shared_ptr<ProgressHUD>> shownNotices(MyWindow& window) {
  std::vector<std::shared_ptr<ProgressHUD>> found;
  for (const auto& v : window.containerView()->subviews())
    if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(v)) found.push_back(hud);
  return found;
}

}  // namespace

TEST(MyWindow, AnAnimatedSwitchCompletesAtOnceWhileTheOldScreenFadesThenLeaves) {
  AppScope app;
  MyWindow window(QSizeF(640, 520));
  auto first = std::make_shared<SwitchedScreen>();
  auto second = std::make_shared<SwitchedScreen>();
  window.switchToViewController(first, nullptr);
  EXPECT_EQ(first->topLevel, 1);
  EXPECT_EQ(first->myWindow(), &window);
  EXPECT_EQ(app.app.dirty, 1);
  bool completed = false;
  window.switchToViewController(second, /*animated=*/true, [&] { completed = true; });
  EXPECT_TRUE(completed);
  EXPECT_EQ(window.controller(), second);
  EXPECT_EQ(first->view()->superview(), window.containerView().get()) << "still fading";
  EXPECT_EQ(window.firstResponder(), &window);
  uitest::advance(0.1);
  EXPECT_GT(first->view()->layer()->opacity(), 0.0);
  EXPECT_LT(first->view()->layer()->opacity(), 1.0);
  uitest::advance(0.2);
  EXPECT_EQ(first->view()->superview(), nullptr);
  EXPECT_DOUBLE_EQ(second->view()->layer()->opacity(), 1.0);
  EXPECT_EQ(second->view()->frame(), window.containerView()->bounds());
}

TEST(MyWindow, CloseAndDeleteQuestionsGoToTheScreenAndWithoutOneCloseYesDeleteNo) {
  MyWindow window(QSizeF(640, 520));
  EXPECT_TRUE(window.windowShouldClose());
  EXPECT_FALSE(window.canWeSafelyDeleteIdea(QString(), QStringLiteral("temp:/a")));
  auto screen = std::make_shared<SwitchedScreen>();
  window.switchToViewController(screen, nullptr);
  screen->canClose = false;
  screen->canDelete = false;
  EXPECT_FALSE(window.windowShouldClose());
  EXPECT_FALSE(window.canWeSafelyDeleteIdea(QString(), QStringLiteral("temp:/a")));
  screen->canClose = true;
  screen->canDelete = true;
  EXPECT_TRUE(window.windowShouldClose());
  EXPECT_TRUE(window.canWeSafelyDeleteIdea(QStringLiteral("i"), QStringLiteral("temp:/a")));
  EXPECT_EQ(window.canvas()->minimumSize(), QSize(520, 520)) << "the content, not the frame with its menu bar";
}

TEST(MyWindow, TwoQuickNoticesEachShowForOnePointOneSecondsAndThenLeaveTheContainer) {
  MyWindow window(QSizeF(640, 520));
  window.showShortNotificationToUser(QStringLiteral("Failed to update document"));
  uitest::advance(0.1);
  window.showShortNotificationToUser(QStringLiteral("Second"));
  uitest::advance(0.1);
  auto shown = shownNotices(window);
  ASSERT_EQ(shown.size(), 1u) << "0.2 s after the request";
  EXPECT_EQ(shown[0]->mode(), ProgressHUD::Text);
  EXPECT_EQ(shown[0]->labelText(), QStringLiteral("Failed to update document"));
  uitest::advance(0.1);
  EXPECT_EQ(shownNotices(window).size(), 2u);
  uitest::advance(1.0);
  EXPECT_EQ(shownNotices(window).size(), 2u) << "1.1 s after appearing, not before";
  uitest::advance(1.0);
  EXPECT_TRUE(shownNotices(window).empty()) << "hidden notices leave the container, so they never count as overlays";
  EXPECT_EQ(window.containerView()->subviews().size(), 1u) << "only the example view is left";
}

TEST(MyWindow, UndoAndRedoActOnlyOnAFocusedTextFieldWithSomethingToUndo) {
  MyWindow window(QSizeF(640, 520));
  window.makeKeyAndOrderFront();
  platform::MenuItem undo(QStringLiteral("Undo"), QStringLiteral("cmdUndo"));
  platform::MenuItem redo(QStringLiteral("Redo"), QStringLiteral("cmdRedo"));
  platform::MenuItem other(QStringLiteral("Other"), QStringLiteral("cmdSomething"));
  EXPECT_FALSE(window.validateUserInterfaceItem(undo)) << "focus outside a text field";
  EXPECT_FALSE(window.validateUserInterfaceItem(other)) << "no screen controller";
  window.tryToPerform(QStringLiteral("cmdUndo"));

  auto field = std::make_shared<SearchTextField>(0);
  window.containerView()->addSubview(field);
  window.displayIfNeeded();
  ASSERT_TRUE(window.makeFirstResponder(field->hostedField().get()));
  QTest::keyClicks(field->lineEdit(), "moon");
  EXPECT_TRUE(window.validateUserInterfaceItem(undo));
  EXPECT_FALSE(window.validateUserInterfaceItem(redo));
  window.tryToPerform(QStringLiteral("cmdUndo"));
  EXPECT_TRUE(field->lineEdit()->text().size() < 4);
  EXPECT_TRUE(window.validateUserInterfaceItem(redo));
  window.tryToPerform(QStringLiteral("cmdRedo"));
  EXPECT_EQ(field->lineEdit()->text(), QStringLiteral("moon"));
}

TEST(MyWindow, TheCloudIconFollowsTheWorkspaceStatusOnlyForCloudLocationsAndTheWindowKeepsTheAppIcon) {
  QPixmap appPixmap(16, 16);
  appPixmap.fill(Qt::darkBlue);
  const QIcon previous = QApplication::windowIcon();
  QApplication::setWindowIcon(QIcon(appPixmap));
  MyWindow window(QSizeF(640, 520));
  window.setCloudIconStateForLocation(DocumentLocationICloud);
  EXPECT_EQ(window.cloudIconName(), QStringLiteral("error")) << "no workspace answers unavailable";
  EXPECT_EQ(window.widget()->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
  window.setCloudIconStateForLocation(DocumentLocationLocalFile);
  EXPECT_EQ(window.cloudIconName(), QString());
  EXPECT_EQ(window.widget()->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
  QApplication::setWindowIcon(previous);
  window.setDocURL(QUrl::fromLocalFile(QStringLiteral("/tmp/map.orrery")));
  EXPECT_EQ(window.representedFilename(), QStringLiteral("/tmp/map.orrery"));
}

// The mean difference of the colour channels of two pictures of the same size (0 to 255): a
// picture scaled on its way to the screen stays within a few steps of its source, another
// picture or none differs by tens.
double meanChannelDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

// Each status of a cloud location shows in the window's top bar as the glyph of its picture
// with its tooltip, also in a bar that enters the window afterwards; elsewhere nothing shows.
TEST(MyWindow, TheTopBarShowsTheStorageStatusAsAGlyphWithATooltip) {
  auto& facade = PersistenceController::singleton();
  auto engine = std::make_shared<orrery::testing::MemoryPersistenceState>();
  facade.setWorkspaceFactory(Workspace::factoryWithEngines([engine](DocumentLocation location) {
    return location == DocumentLocationDropbox ? std::static_pointer_cast<PersistenceState>(engine) : nullptr;
  }));
  Globals::optForDropbox(true);
  uitest::advance(0);
  struct Case {
    std::int64_t engineStatus;
    DocumentLocation location;
    const char* picture;  // none: nothing shows
    const char* toolTip;
  };
  const Case cases[] = {
      {3, DocumentLocationDropbox, "cloud", "Dropbox: up to date"},
      {0, DocumentLocationDropbox, "sync", "Dropbox: syncing"},
      {4, DocumentLocationDropbox, "sync", "Dropbox: syncing"},
      {1, DocumentLocationDropbox, "error", "Dropbox: unavailable"},
      {3, DocumentLocationICloud, "error", "iCloud: unavailable"},  // no iCloud workspace
      {3, DocumentLocationLocalFile, nullptr, nullptr},
      {3, DocumentLocationTemp, nullptr, nullptr},
  };
  for (const bool barFirst : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.location << " engine status " << c.engineStatus
                                        << (barFirst ? "" : ", the bar comes later"));
      engine->reportStatus(c.engineStatus);
      uitest::advance(0);
      MyWindow window(QSizeF(640, 520));
      auto bar = std::make_shared<TopBarView>();
      bar->setFrame(QRectF(0, 0, 640, TopBarView::preferredHeight()));
      if (barFirst) window.containerView()->addSubview(bar);
      window.setCloudIconStateForLocation(c.location);
      if (!barFirst) window.containerView()->addSubview(bar);
      window.displayIfNeeded();

      const QImage shot = window.snapshot(2);
      const double fieldLeft = bar->searchTextField()->frame().left();
      if (!c.picture) {
        EXPECT_EQ(bar->storageStatusView(), nullptr);
        const QImage left = shot.copy(QRect(0, 0, int(fieldLeft) * 2, 80));
        QImage plain(left.size(), QImage::Format_ARGB32_Premultiplied);
        plain.fill(Globals::colorGray91());
        EXPECT_EQ(meanChannelDifference(left, plain), 0) << "nothing left of the search field";
        const QPoint at(int(fieldLeft) - 16, 20);
        QHelpEvent help(QEvent::ToolTip, at, window.canvas()->mapToGlobal(at));
        QApplication::sendEvent(window.canvas(), &help);
        EXPECT_FALSE(help.isAccepted()) << "no tooltip";
        continue;
      }
      ASSERT_NE(bar->storageStatusView(), nullptr);
      const auto& glyph = *bar->storageStatusView();
      const QRectF place = glyph.convertRectToView(glyph.bounds(), nullptr);
      ASSERT_EQ(place.size(), QSizeF(16, 16));
      EXPECT_LT(place.right(), fieldLeft) << "left of the search field";
      QImage expected(32, 32, QImage::Format_ARGB32_Premultiplied);
      expected.fill(Globals::colorGray91());
      const QImage picture(platform::pathForResource(QString::fromLatin1(c.picture) + "@2x", "png"));
      ASSERT_FALSE(picture.isNull());
      QPainter(&expected).drawImage(QRect(0, 0, 32, 32), picture);
      const QImage drawn = shot.copy(QRect((place.topLeft() * 2).toPoint(), QSize(32, 32)));
      EXPECT_LT(meanChannelDifference(drawn, expected), 16) << "the bar shows the status picture";

      const QPoint at = place.center().toPoint();
      QHelpEvent help(QEvent::ToolTip, at, window.canvas()->mapToGlobal(at));
      QApplication::sendEvent(window.canvas(), &help);
      EXPECT_EQ(QToolTip::text(), QString::fromLatin1(c.toolTip));
      QToolTip::hideText();
    }
  }
  Globals::optForDropbox(false);
  facade.setWorkspaceFactory({});
  uitest::advance(0);
}

TEST(DragSupportWindow, TheDockSlotHoldsOneIdeaWithItsDocument) {
  DragSupportWindow window(QSizeF(640, 520));
  EXPECT_EQ(window.currentDockedIdea(), nullptr);
  auto idea = Idea::createWithText(QStringLiteral("parked"));
  window.setDockedIdea(idea, QStringLiteral("temp:/a.orrery"));
  EXPECT_EQ(window.currentDockedIdea(), idea);
  EXPECT_EQ(window.currentDockedDocIdentifier(), QStringLiteral("temp:/a.orrery"));
  window.setDockedIdea(nullptr, QStringLiteral("temp:/a.orrery"));
  EXPECT_EQ(window.currentDockedIdea(), nullptr);
  EXPECT_TRUE(window.currentDockedDocIdentifier().isEmpty());
}

TEST(DragSupportWindow, AParkedIdeaKeepsItsTreeAliveAndTheHostedControllerHearsDrags) {
  DragSupportWindow window(QSizeF(640, 520));
  std::weak_ptr<Idea> weakRoot;
  {
    auto root = Idea::createWithText(QStringLiteral("root"));
    auto child = Idea::createWithText(QStringLiteral("child"));
    root->addIdea(child);
    weakRoot = root;
    window.setDockedIdea(child, QString());
  }
  ASSERT_TRUE(window.currentDockedIdea());
  EXPECT_FALSE(weakRoot.expired()) << "parents are weak: the slot holds the root";
  EXPECT_EQ(window.currentDockedIdea()->parent(), weakRoot.lock());
  window.setDockedIdea(nullptr, QString());
  EXPECT_TRUE(weakRoot.expired()) << "an emptied slot lets the tree go";

  struct Dropping : BaseViewController, DragSupportDelegate {
    bool dragOperationStarted(const DragInfo&) override { return true; }
    DragReturnTarget dragOperationUpdate(const DragInfo&) override { return {}; }
    void dragOperationExited() override {}
    void dragOperationEnded(const DragInfo&, const IdeaPtr&, const QString&, ResultCompletion) override {}
    void dragOperationEndedWithResult(const DragInfo*, DragResult) override {}
  };
  auto dropping = std::make_shared<Dropping>();
  window.switchToViewController(dropping, nullptr);
  EXPECT_EQ(window.dragSupportDelegate(), dropping.get());
  window.switchToViewController(std::make_shared<BaseViewController>(), nullptr);
  EXPECT_EQ(window.dragSupportDelegate(), nullptr) << "a controller that does not take drags";
  const DragInfo fresh;
  EXPECT_EQ(fresh.returnTarget.object, kDragTargetNothing);
  EXPECT_EQ(fresh.location, QPointF(0, 0));
}
