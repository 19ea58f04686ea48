// Every screen and popover of the program at two window sizes, on a 1440 × 900 and a
// 1024 × 720 screen: each picture is kept in screenshots/ of the build folder, and a screen
// fails when something is drawn past the window's edge, a text reads as a localisation key
// or a control has no pixels.

#include "screen_check.h"

#include "controller_test_support.h"

#include "app/about_window.h"
#include "app/legal_notices_window.h"
#include "app/menu_helper.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "editor_screen/editor_screens.h"
#include "export/sharing_view_controller.h"
#include "foundation/views/container_view.h"
#include "foundation/views/screenshot.h"
#include "home/home_screens.h"
#include "home/home_view_controller.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/edit_view_tab_bar.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/popover.h"
#include "scripted_presenter.h"
#include "shell/drag_support.h"
#include "shell/screen_factory.h"
#include "shell/welcome_screen_view.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

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

TEST_F(Screens, HomeScreen) {
  for (const Size& size : kSizes) {
    auto window = std::make_shared<orrery::DragSupportWindow>(size.size);
    window->switchToViewController(orrery::screenFactory().makeHome(orrery::DocumentLocationICloud, QString()),
                                   /*animated=*/false, nullptr);
    placeOnItsScreen(*window, size.size);
    uitest::advance(1.0);
    expectClean(*window, QStringLiteral("home_%1").arg(size.name));
    window->close();
    uitest::advance(0.1);
  }
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
