// Every screen and popover of the program at two window sizes, on a 1440 × 900 and a
// 1024 × 720 screen: each picture is kept in screenshots/ of the build folder, and a screen
// fails when something is drawn past the window's edge, a text reads as a localisation key
// or a control has no pixels.

#include "screen_check.h"

#include "drawing_check.h"

#include "controller_test_support.h"

#include "app/about_window.h"
#include "app/legal_notices_window.h"
#include "app/menu_helper.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "app/window_placement.h"
#include "cloud/cloud_engines.h"
#include "cloud_container_fixture.h"
#include "editor_screen/editor_screens.h"
#include "export/sharing_view_controller.h"
#include "foundation/views/container_view.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/screenshot.h"
#include "graph/graph_scroll_view.h"
#include "home/home_screens.h"
#include "home/home_view_controller.h"
#include "model/color_theme.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/edit_view_tab_bar.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/popover.h"
#include "scripted_presenter.h"
#include "shell/drag_overlay_view.h"
#include "shell/drag_support.h"
#include "shell/screen_factory.h"
#include "shell/welcome_screen_view.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <numbers>

using namespace controllertest;
using screencheck::checkWindow;
using screencheck::Findings;

namespace {

struct Size {
  QSizeF size;
  const char* name;
};
const Size kSizes[] = {{QSizeF(1440, 900), "1440x900"}, {QSizeF(1024, 720), "1024x720"}};

// The screen a window of this size stands on: the offscreen screen of that size when the test
// runs with the screens' configuration, else the first.
QScreen* screenFor(const QSizeF& size) {
  for (QScreen* screen : QGuiApplication::screens())
    if (QSizeF(screen->geometry().size()) == size) return screen;
  return QGuiApplication::primaryScreen();
}

void placeOnItsScreen(platform::Window& window, const QSizeF& size) {
  window.setContentSize(size);
  if (QScreen* screen = screenFor(size)) window.setFrameOrigin(screen->geometry().topLeft());
  window.displayIfNeeded();
}

// Menus are recorded by their titles and kept as pictures; none is chosen.
class MenuRecorder : public testsupport::ScriptedPresenter {
 public:
  std::vector<QStringList> menus;
  std::shared_ptr<platform::MenuItem> popUpMenu(platform::Menu& menu, QPointF location, platform::Window* window) override {
    QStringList titles;
    QMenu shown;
    for (const auto& item : menu.items()) {
      if (item->isSeparator()) {
        shown.addSeparator();
        continue;
      }
      titles << item->title();
      shown.addAction(item->title());
    }
    menus.push_back(titles);
    shown.adjustSize();
    screencheck::keepPicture(shown.grab().toImage(), QStringLiteral("drop_menu_%1").arg(menus.size()));
    return ScriptedPresenter::popUpMenu(menu, location, window);
  }
};

// "Thoughts" with eight children of everyday titles; the first has children of its own.
IdeaPtr sampleTree() {
  IdeaPtr root = idea(QStringLiteral("Thoughts"), 0);
  const QStringList titles = {QStringLiteral("Poem idea for the weekend"), QStringLiteral("Library test results"),
                              QStringLiteral("Shopping"), QStringLiteral("Holiday plans with the family"),
                              QStringLiteral("Books"), QStringLiteral("Garden"), QStringLiteral("Work"),
                              QStringLiteral("Ideas for the talk next month")};
  for (int i = 0; i < titles.size(); ++i) root->addIdea(idea(titles[i], i + 1));
  for (const char* text : {"Rhymes", "Stanza", "Title"}) root->ideas()[0]->addIdea(idea(QString::fromLatin1(text), 2));
  root->ideas()[0]->setNote(QStringLiteral("First note\nsecond line"));
  return root;
}

class Screens : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    mPreviousFactory = orrery::setScreenFactory({});
    orrery::installEditorScreens();
    orrery::installHomeScreens();
    mPreviousPresenter = platform::setModalPresenter(recorder);
    platform::Application::shared().setMainMenu(orrery::MenuHelper::createMainMenu(nullptr));
  }
  void TearDown() override {
    editor.reset();
    platform::Application::shared().setMainMenu(nullptr);
    platform::setModalPresenter(mPreviousPresenter);
    orrery::setScreenFactory(mPreviousFactory);
    ControllerTest::TearDown();
  }

  // An editor of the sample map at `size`, centred on `ideaIdentifier` (the root when empty).
  void openEditor(const Size& size, const QString& name, bool drilled = false) {
    editor.reset();
    root = sampleTree();
    opened = createLocal(path(name + QStringLiteral(".orrery")), root);
    ASSERT_GE(opened.token, 1);
    const QString shown = drilled ? root->ideas()[0]->identifier() : QString();
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, shown), &app);
    placeOnItsScreen(editor->window(), size.size);
    uitest::advance(1.0);
  }
  SolarSystemViewController& c() { return *editor->controller; }

  void expectClean(platform::Window& window, const QString& name) {
    const Findings findings = checkWindow(window, name);
    EXPECT_TRUE(findings.clean()) << name.toStdString() << "\n" << findings.report().toStdString();
  }

  // The popover's own window, and the popover on its screen.
  void expectCleanPopover(platform::Popover& popover, const Size& size, const QString& name) {
    ASSERT_TRUE(popover.isShown()) << name.toStdString();
    ASSERT_NE(popover.window(), nullptr);
    expectClean(*popover.window(), name);
    if (QScreen* screen = screenFor(size.size)) {
      EXPECT_TRUE(QRectF(screen->availableGeometry()).adjusted(-1, -1, 1, 1).contains(popover.frame()))
          << name.toStdString() << ": the popover runs off its screen";
    }
  }

  std::shared_ptr<MenuRecorder> recorder = std::make_shared<MenuRecorder>();
  std::unique_ptr<EditorWindow> editor;
  Opened opened;
  IdeaPtr root;

 private:
  orrery::ScreenFactory mPreviousFactory;
  std::shared_ptr<platform::ModalPresenter> mPreviousPresenter;
};

}  // namespace

TEST_F(Screens, EditorWithEightPlanetsAndDrilledInWithItsParentDisc) {
  for (const Size& size : kSizes) {
    openEditor(size, QStringLiteral("editor_%1").arg(size.name));
    expectClean(editor->window(), QStringLiteral("editor_%1").arg(size.name));
    openEditor(size, QStringLiteral("drilled_%1").arg(size.name), /*drilled=*/true);
    expectClean(editor->window(), QStringLiteral("editor_drilled_%1").arg(size.name));
  }
}

TEST_F(Screens, EditPopoverWithEachTab) {
  for (const Size& size : kSizes) {
    for (const bool onCentre : {false, true}) {
      openEditor(size, QStringLiteral("popover_%1_%2").arg(size.name).arg(onCentre));
      const IdeaPtr edited = onCentre ? root : root->ideas()[7];
      c().onEditIdea(edited->identifier());
      uitest::advance(0.5);
      ASSERT_TRUE(c().editPopover());
      auto* panel = dynamic_cast<orrery::EditIdeaViewController*>(c().editPopover()->contentViewController().get());
      ASSERT_NE(panel, nullptr);
      for (std::int64_t tab = 0; tab < 3; ++tab) {
        panel->editViewTabBarUserSelectedItem(*panel->tabBar(), tab);
        uitest::advance(0.5);
        expectCleanPopover(*c().editPopover(), size,
                           QStringLiteral("popover_%1_tab%2_%3").arg(onCentre ? "sun" : "planet").arg(tab).arg(size.name));
      }
      c().editPopover()->performClose();
      uitest::advance(0.5);
    }
  }
}

TEST_F(Screens, DropMenuSpeaksWords) {
  openEditor(kSizes[0], QStringLiteral("drop"));
  orrery::DragInfoForIdea info;
  info.source = orrery::kDragSourceThisWindow;
  info.returnTarget.object = orrery::kDragTargetStart;
  const IdeaPtr dragged = root->ideas()[1];
  info.ideaIdentifier = dragged->identifier();
  info.docIdentifier = opened.doc->docIdentifier();
  ASSERT_TRUE(c().dragOperationStarted(info));
  info.location = editor->planet(4);
  c().dragOperationUpdate(info);
  c().dragOperationEnded(info, dragged, opened.doc->docIdentifier(), [](orrery::DragResult) {});
  uitest::advance(0.1);
  ASSERT_FALSE(recorder->menus.empty());
  Findings findings;
  for (const QStringList& menu : recorder->menus) screencheck::checkTexts(menu, QStringLiteral("the drop menu"), findings);
  EXPECT_TRUE(findings.clean()) << findings.report().toStdString();
}

TEST_F(Screens, OverviewGraph) {
  for (const Size& size : kSizes) {
    openEditor(size, QStringLiteral("graph_%1").arg(size.name));
    c().cmdToggleMindmap();
    // The radial view fades out, and the tiles are drawn on a work queue: wait until the
    // radial view has gone and the map shows below the top bar.
    uitest::advance(2.0);
    ASSERT_TRUE(c().solarSystem()->isHidden() || c().solarSystem()->alphaValue() == 0);
    EXPECT_TRUE(waitFor([&] {
      uitest::advance(0.05);
      const QImage shown = editor->window().snapshot();
      for (int y = 60; y < shown.height(); y += 4)
        for (int x = 0; x < shown.width(); x += 4)
          if (qGray(shown.pixel(x, y)) < 200) return true;
      return false;
    })) << "the graph draws the map at " << size.name;
    expectClean(editor->window(), QStringLiteral("graph_%1").arg(size.name));
  }
}

// Rows of a share pane that touch or overlap: two shown views that do not stand side by side
// (centred on each other's row) keep at least the 10 points the buttons' rows keep between them.
QStringList touchingRows(platform::View& pane) {
  std::vector<QRectF> shown;
  for (const auto& view : pane.subviews())
    if (!view->isHidden() && view->alphaValue() > 0) shown.push_back(view->frame());
  QStringList found;
  for (std::size_t i = 0; i < shown.size(); ++i)
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      const QRectF& a = shown[i];
      const QRectF& b = shown[j];
      const bool sideBySide = a.top() < b.center().y() && b.center().y() < a.bottom();
      const double gap = std::max(b.top() - a.bottom(), a.top() - b.bottom());
      if (!sideBySide && gap < 10 - 1e-6)
        found << QStringLiteral("(%1,%2 %3x%4) and (%5,%6 %7x%8) %9 apart")
                     .arg(a.x()).arg(a.y()).arg(a.width()).arg(a.height())
                     .arg(b.x()).arg(b.y()).arg(b.width()).arg(b.height()).arg(gap);
    }
  return found;
}

TEST_F(Screens, ShareSheetAtTwoWidths) {
  for (const Size& size : kSizes) {
    openEditor(size, QStringLiteral("share_%1").arg(size.name));
    c().cmdExport();
    uitest::advance(1.0);
    ASSERT_FALSE(c().presentedViewControllers().empty());
    auto sheet = std::dynamic_pointer_cast<orrery::SharingViewController>(c().presentedViewControllers().back());
    ASSERT_NE(sheet, nullptr);
    // Every tab, each with the options it offers.
    for (std::size_t tab = 0; tab < sheet->tabButtons().size(); ++tab) {
      sheet->buttonPressed(*sheet->tabButtons()[tab]);
      uitest::advance(1.0);
      expectClean(editor->window(), QStringLiteral("share_tab%1_%2").arg(tab).arg(size.name));
      const QStringList touching = touchingRows(*sheet->shareTypes()[tab]);
      EXPECT_TRUE(touching.isEmpty()) << "tab " << tab << " at " << size.name << ": "
                                      << touching.join("; ").toStdString();
    }
  }
}

TEST_F(Screens, WhatsNewOverAMap) {
  for (const Size& size : kSizes) {
    openEditor(size, QStringLiteral("whatsnew_%1").arg(size.name));
    auto& container = *editor->window().containerView();
    auto card = std::make_shared<orrery::WelcomeScreenView>(orrery::kitImageByCapturingScreenshot(container));
    container.addSubview(card);
    card->forceDirtyLayout();
    uitest::advance(1.0);
    expectClean(editor->window(), QStringLiteral("whatsnew_%1").arg(size.name));
  }
}

// The iCloud home screen before iCloud is used, then listing maps whose folder has gone away
// (the notice of the unreachable folder above the grid).
TEST_F(Screens, HomeScreen) {
  auto showHome = [&](const QString& name, bool away) {
    for (const Size& size : kSizes) {
      auto window = std::make_shared<orrery::DragSupportWindow>(size.size);
      auto home = std::dynamic_pointer_cast<orrery::HomeViewController>(
          orrery::screenFactory().makeHome(orrery::DocumentLocationICloud, QString()));
      ASSERT_TRUE(home);
      window->switchToViewController(home, /*animated=*/false, nullptr);
      placeOnItsScreen(*window, size.size);
      uitest::advance(1.0);
      if (away) {
        ASSERT_TRUE(waitFor([&] { return home->unreachableNotice() != nullptr; })) << size.name;
      }
      window->displayIfNeeded();
      expectClean(*window, QStringLiteral("%1_%2").arg(name, size.name));
      window->close();
      uitest::advance(0.1);
    }
  };
  showHome(QStringLiteral("home"), /*away=*/false);

  testsupport::CloudContainerFixture container;
  container.addDocuments(14);
  auto& facade = orrery::PersistenceController::singleton();
  orrery::installCloudEngines();
  orrery::Globals::optForICloud(true);
  const auto stopICloud = qScopeGuard([&] {
    orrery::Globals::optForICloud(false);
    uitest::advance(0);
    facade.setWorkspaceFactory(nullptr);
  });
  ASSERT_TRUE(waitFor([&] {
    return facade.proxyListForLocation(orrery::DocumentLocationICloud).value_or(orrery::ProxyList()).size() == 14;
  }));
  ASSERT_TRUE(container.moveAway());
  for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] {
    return facade.statusForLocation(orrery::DocumentLocationICloud) == orrery::WorkspaceStatusUnavailable;
  }));
  showHome(QStringLiteral("home_folder_away"), /*away=*/true);
}

TEST_F(Screens, PreferencesPanes) {
  orrery::PreferencesWindowController preferences(
      {std::make_shared<orrery::GeneralPreferencesViewController>(), std::make_shared<orrery::AdvancedPreferencesViewController>()},
      QStringLiteral("Preferences"));
  preferences.showWindow();
  for (int pane = 0; pane < 2; ++pane) {
    preferences.selectControllerAtIndex(pane);
    uitest::advance(1.0);
    expectClean(preferences.window(), QStringLiteral("preferences_%1").arg(pane));
  }
  preferences.window().close();
}

TEST_F(Screens, MainMenuSpeaksWords) {
  Findings findings;
  std::function<void(const platform::Menu&)> collect = [&](const platform::Menu& menu) {
    for (const auto& item : menu.items()) {
      screencheck::checkTexts({item->title()}, QStringLiteral("the main menu"), findings);
      if (item->submenu()) collect(*item->submenu());
    }
  };
  platform::Application::shared().updateMainMenu();
  collect(*platform::Application::shared().mainMenu());
  EXPECT_TRUE(findings.clean()) << findings.report().toStdString();
  EXPECT_GE(findings.texts.size(), 15);
}

TEST_F(Screens, AboutAndLegalNotices) {
  platform::Window& about = orrery::AboutWindow::show();
  uitest::advance(1.0);
  expectClean(about, QStringLiteral("about"));
  about.close();
  platform::Window& legal = orrery::LegalNoticesWindow::show();
  uitest::advance(1.0);
  expectClean(legal, QStringLiteral("legal_notices"));
  legal.close();
}

// The default window of a 1440 × 900 screen, crowded maps, drops and zooming: besides the
// window check, discs may cover each other only in the radial layout's pile, labels must be
// whole or end in an ellipsis and disc titles be cut to whole lines with none, text must read
// against what is behind it, and the graph and the editor must stay in their own areas.

namespace {

class DefaultWindow : public Screens {
 protected:
  // The frame a new window takes on the large screen.
  static QSizeF defaultSize() {
    return orrery::placement::newWindowFrame(QRectF(screenFor(QSizeF(1440, 900))->availableGeometry())).size();
  }

  // "Japan and the cities we want to see" with `count` children, one of them long enough to
  // need more lines than its disc has; the first has children of its own.
  void openCrowded(int count, const QSizeF& size, const QString& name, bool drilled = false) {
    editor.reset();
    root = idea(QStringLiteral("Japan and the cities we want to see"), 0);
    // The darkest colour a sun can have: what lies behind the messages in the middle.
    for (const auto& theme : orrery::ColorTheme::standardThemes())
      for (const auto& colour : theme->colors())
        if (qGray(colour->uiColor().rgb()) < qGray(root->color()->uiColor().rgb())) root->setColor(colour);
    const QStringList titles = {QStringLiteral("Food"), QStringLiteral("Cities"), QStringLiteral("Idea 2"),
                                QStringLiteral("A long planet title that runs on past the lines its disc has room "
                                               "for, and then some more words"),
                                QStringLiteral("Temples"), QStringLiteral("Trains"), QStringLiteral("Hotels"),
                                QStringLiteral("Budget"), QStringLiteral("Language")};
    for (int i = 0; i < count; ++i) root->addIdea(idea(titles[i % titles.size()], i + 1));
    for (const char* text : {"Sushi", "Ramen", "Tempura"}) root->ideas()[0]->addIdea(idea(QString::fromLatin1(text), 2));
    opened = createLocal(path(name + QStringLiteral(".orrery")), root);
    ASSERT_GE(opened.token, 1);
    const QString shown = drilled ? root->ideas()[0]->identifier() : QString();
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, shown), &app);
    placeOnItsScreen(editor->window(), size);
    uitest::advance(1.0);
  }

  void expectReadable(const QString& name) {
    platform::View& content = *editor->window().contentView();
    const QStringList overlaps = screencheck::overlapsOutsideThePile(content);
    EXPECT_TRUE(overlaps.isEmpty()) << name.toStdString() << ": discs overlap outside the pile\n  "
                                    << overlaps.join(QStringLiteral("\n  ")).toStdString();
    const QStringList cut = screencheck::cutTexts(content);
    EXPECT_TRUE(cut.isEmpty()) << name.toStdString() << ": cut wrongly\n  "
                               << cut.join(QStringLiteral("\n  ")).toStdString();
    expectClean(editor->window(), name);
  }

  // The window's picture, one pixel per point.
  QImage picture() {
    editor->window().displayIfNeeded();
    return editor->window().snapshot();
  }
  double scale() { return picture().width() / std::max(1.0, editor->window().contentSize().width()); }
};

}  // namespace

TEST_F(DefaultWindow, CrowdedMapsFollowTheRadialLayoutWithTitlesCutToWholeLines) {
  const QSizeF size = defaultSize();
  ASSERT_EQ(size, QSizeF(1172, 760)) << "the default window of a 1440 × 900 screen";
  for (const auto& [count, window] : {std::pair{8, size}, std::pair{9, size}, std::pair{8, QSizeF(1024, 679)},
                                      std::pair{9, QSizeF(1440, 860)}}) {
    for (const bool drilled : {false, true}) {
      const QString name = QStringLiteral("crowded_%1_%2x%3%4")
                               .arg(count)
                               .arg(window.width())
                               .arg(window.height())
                               .arg(drilled ? "_drilled" : "");
      openCrowded(count, window, name, drilled);
      expectReadable(name);
      if (drilled) continue;
      // Too many planets for the largest orbit this window allows: the layout piles the last
      // ones just before 183°, at the left of the ring.
      const auto& radial = *c().solarSystem();
      if (radial.radiusAllowing(count) <= radial.radius()) continue;
      const QPointF sun = radial.centralView()->frame().center();
      int piled = 0;
      for (std::int64_t i = 0; i < radial.ideaViewCount(); ++i) {
        const QPointF d = radial.ideaViewAtIndex(i)->position() - sun;
        const double degrees = std::atan2(d.y(), d.x()) * 180 / std::numbers::pi;
        piled += degrees > 171.5 && degrees < 183.5;
      }
      EXPECT_GE(piled, 1) << name.toStdString() << ": the compressed layout shows its pile";
    }
  }
}

TEST_F(DefaultWindow, ADrilledEditorDrawsNothingOverTheTopBar) {
  // The parent disc's centre lies beyond the editor's corner, next to the top bar's buttons.
  openCrowded(9, defaultSize(), QStringLiteral("drilled_top_bar"), /*drilled=*/true);
  const auto radial = c().solarSystem();
  ASSERT_TRUE(radial && radial->parentView());
  const QImage with = picture();
  radial->setHidden(true);
  const QImage without = picture();
  radial->setHidden(false);
  const QRectF area = c().solarSystemFrame();
  const QSizeF content = editor->window().contentSize();
  const QRectF bar(0, 0, content.width(), SolarSystemViewController::topBarHeight());
  EXPECT_EQ(screencheck::changedPixels(without, with, bar, scale()), 0) << "the editor drew over the top bar";
  EXPECT_GT(screencheck::changedPixels(without, with, area, scale()), 1000) << "the editor drew its discs";
  int outside = 0;
  for (const QRectF& rest : {QRectF(0, 0, content.width(), area.top()),
                             QRectF(0, area.bottom(), content.width(), content.height() - area.bottom()),
                             QRectF(0, 0, area.left(), content.height()),
                             QRectF(area.right(), 0, content.width() - area.right(), content.height())})
    if (!rest.isEmpty()) outside += screencheck::changedPixels(without, with, rest, scale());
  EXPECT_EQ(outside, 0) << "the editor drew outside its area";
}

TEST_F(DefaultWindow, TheZoomedGraphStaysBelowTheTopBar) {
  openCrowded(9, defaultSize(), QStringLiteral("graph_zoom"));
  c().cmdToggleMindmap();
  uitest::advance(2.0);
  ASSERT_TRUE(c().graphScrollView());
  ASSERT_TRUE(waitFor([&] {
    uitest::advance(0.05);
    return !c().graphScrollView()->isBuilding() && c().graphScrollView()->graphView();
  }));
  uitest::advance(1.0);
  const QImage before = picture();
  for (int step = 0; step < 6; ++step) {
    c().graphScrollView()->cmdZoomIn();
    uitest::advance(0.5);
  }
  uitest::advance(2.0);
  const QImage after = picture();
  screencheck::keepPicture(after, QStringLiteral("graph_zoomed_in"));
  EXPECT_GT(screencheck::changedPixels(before, after, c().solarSystemFrame(), scale()), 1000) << "the graph zoomed in";
  const QRectF bar(0, 0, editor->window().contentSize().width(), SolarSystemViewController::topBarHeight());
  EXPECT_EQ(screencheck::changedPixels(before, after, bar, scale()), 0) << "the graph drew over the top bar";
}

namespace {

// Another program's drag over the editor's window, dropped at the end.
bool dragFromElsewhere(platform::Window& window, QMimeData& data, bool drop) {
  const QPoint at = (QPointF(window.contentSize().width(), window.contentSize().height()) / 2).toPoint();
  if (!drop) {
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.canvas(), &enter);
    return enter.isAccepted();
  }
  QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.canvas(), &dropped);
  return dropped.isAccepted();
}

// The newest short notice in the window.
std::shared_ptr<orrery::ProgressHUD> newestNotice(orrery::MyWindow& window) {
  std::shared_ptr<orrery::ProgressHUD> found;
  for (const auto& view : window.containerView()->subviews())
    if (auto hud = std::dynamic_pointer_cast<orrery::ProgressHUD>(view)) found = hud;
  return found;
}

}  // namespace

TEST_F(DefaultWindow, DropMessagesFitAndReadAgainstTheMap) {
  QTemporaryDir files;
  const QString picturePath = files.filePath(QStringLiteral("photo.png"));
  QImage photo(30, 20, QImage::Format_RGB32);
  photo.fill(Qt::darkGreen);
  ASSERT_TRUE(photo.save(picturePath));
  for (const QSizeF window : {QSizeF(1172, 710), QSizeF(710, 520)}) {
    const QString size = QStringLiteral("%1x%2").arg(window.width()).arg(window.height());
    openCrowded(8, window, QStringLiteral("drop_%1").arg(size));
    auto& shell = static_cast<orrery::MyWindow&>(editor->window());

    // Plain text from another program: refused, saying why, while it hovers and after the drop.
    QMimeData text;
    text.setText(QStringLiteral("some words"));
    ASSERT_TRUE(dragFromElsewhere(shell, text, /*drop=*/false)) << "the window hears of the text";
    auto* dragWindow = dynamic_cast<orrery::DragSupportWindow*>(&shell);
    ASSERT_TRUE(dragWindow && dragWindow->overlay());
    EXPECT_FALSE(dragWindow->overlay()->accepts());
    const QStringList cut = screencheck::cutTexts(*dragWindow->overlay());
    EXPECT_TRUE(cut.isEmpty()) << size.toStdString() << ": " << cut.join(QStringLiteral("; ")).toStdString();
    const auto& label = dragWindow->overlay()->label();
    const QImage withLabel = picture();
    screencheck::keepPicture(withLabel, QStringLiteral("drop_refused_%1").arg(size));
    label->setHidden(true);
    const QImage withoutLabel = picture();
    label->setHidden(false);
    EXPECT_GE(screencheck::textContrast(withLabel, withoutLabel, label->convertRectToView(label->bounds(), nullptr),
                                        scale()),
              4.5)
        << size.toStdString() << ": \"" << label->text().toStdString() << "\" against the blurred map";
    dragFromElsewhere(shell, text, /*drop=*/true);
    uitest::advance(0.3);
    ASSERT_TRUE(newestNotice(shell));
    EXPECT_EQ(newestNotice(shell)->labelText(), QStringLiteral("File type not supported"));
    uitest::advance(2.0);

    // A picture file lands in the dock; the notice over the sun reads.
    auto files = std::make_unique<QMimeData>();
    files->setUrls({QUrl::fromLocalFile(picturePath)});
    ASSERT_TRUE(dragFromElsewhere(shell, *files, /*drop=*/false));
    ASSERT_TRUE(dragFromElsewhere(shell, *files, /*drop=*/true));
    ASSERT_TRUE(waitFor([&] {
      uitest::advance(0.05);
      auto hud = newestNotice(shell);
      return hud && hud->labelText() == QStringLiteral("Copied to clipboard");
    }));
    uitest::advance(0.5);  // faded in
    auto notice = newestNotice(shell);
    const QStringList cutNotice = screencheck::cutTexts(*notice);
    EXPECT_TRUE(cutNotice.isEmpty()) << cutNotice.join(QStringLiteral("; ")).toStdString();
    const QImage withNotice = picture();
    screencheck::keepPicture(withNotice, QStringLiteral("drop_added_%1").arg(size));
    notice->label()->setHidden(true);
    const QImage withoutNotice = picture();
    notice->label()->setHidden(false);
    EXPECT_GE(screencheck::textContrast(withNotice, withoutNotice,
                                        notice->label()->convertRectToView(notice->label()->bounds(), nullptr), scale()),
              4.5)
        << size.toStdString() << ": \"Copied to clipboard\" over the sun";
    uitest::advance(2.0);
  }
}

TEST_F(DefaultWindow, TheEditPopoverKeepsItsEdgeBesideThePlanetAcrossTabs) {
  for (const QSizeF window : {defaultSize(), QSizeF(1024, 679)}) {
    openCrowded(8, window, QStringLiteral("popover_place_%1").arg(window.height()));
    // The lowest planet: below it there is little room, so the popover may stand above it.
    std::int64_t lowest = 0;
    for (std::int64_t i = 1; i < editor->radial().ideaViewCount(); ++i)
      if (editor->planet(i).y() > editor->planet(lowest).y()) lowest = i;
    const IdeaPtr edited = root->ideas()[static_cast<std::size_t>(lowest)];
    c().onEditIdea(edited->identifier());
    uitest::advance(0.5);
    ASSERT_TRUE(c().editPopover() && c().editPopover()->isShown());
    auto* panel = dynamic_cast<orrery::EditIdeaViewController*>(c().editPopover()->contentViewController().get());
    ASSERT_NE(panel, nullptr);
    // The side facing the planet stays where it is: the popover only slides along it.
    const auto facing = [&] {
      const QRectF frame = c().editPopover()->frame();
      switch (c().editPopover()->shownEdge()) {
        case platform::RectEdge::MaxY: return frame.top();
        case platform::RectEdge::MinY: return frame.bottom();
        case platform::RectEdge::MaxX: return frame.left();
        case platform::RectEdge::MinX: return frame.right();
      }
      return 0.0;
    };
    const platform::RectEdge edge = c().editPopover()->shownEdge();
    const double side = facing();
    for (const std::int64_t tab : {1, 2, 0, 2}) {
      panel->editViewTabBarUserSelectedItem(*panel->tabBar(), tab);
      uitest::advance(0.5);
      EXPECT_EQ(c().editPopover()->shownEdge(), edge) << "tab " << tab << " at " << window.height();
      EXPECT_EQ(facing(), side) << "tab " << tab << " at " << window.height();
    }
    c().editPopover()->performClose();
    uitest::advance(0.5);
  }
}
