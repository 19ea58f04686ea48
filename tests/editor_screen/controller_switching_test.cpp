#include "controller_test_support.h"

#include "shell/screen_factory.h"

using namespace controllertest;
using orrery::Idea;

namespace {

struct SwitchingTest : ControllerTest {
  void open(IdeaPtr root, const QString& shown = QString()) {
    opened = createLocal(path(QStringLiteral("switch.orrery")), root);
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, shown), &app);
  }
  SolarSystemViewController& c() { return *editor->controller; }
  // Waits out the 300 ms tap wait and the drill animation.
  void settle() { uitest::advance(1.0); }

  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(SwitchingTest, AClickOnAPlanetDrillsDownAndOneOnTheParentDrillsBack) {
  IdeaPtr root = makeTree(5);
  open(root);
  auto first = c().solarSystem();
  editor->click(editor->planet(0));
  uitest::advance(0.31);
  EXPECT_TRUE(c().isDrillingUpOrDown()) << "the drill-down runs";
  EXPECT_FALSE(c().solarSystem()->userInteractionEnabled()) << "no input while both views are up";
  settle();
  EXPECT_FALSE(c().isDrillingUpOrDown());
  EXPECT_EQ(c().ownIdea(), root->ideas()[0]);
  EXPECT_NE(c().solarSystem(), first) << "a new radial view for the new idea";
  EXPECT_EQ(first->superview(), nullptr) << "the old view left at the end";
  EXPECT_EQ(editor->planets(), editor->children());
  EXPECT_EQ(editor->window().firstResponder(), c().solarSystem().get());
  ASSERT_TRUE(c().solarSystem()->parentView());

  QPointF parent = c().solarSystem()->parentView()->frame().center();
  editor->click(c().solarSystem()->convertPointToView(parent, nullptr));
  settle();
  EXPECT_EQ(c().ownIdea(), root);
  EXPECT_TRUE(editor->planets().contains(root->ideas()[0]->identifier()))
      << "the planet of the idea we came from is among the new planets";
  EXPECT_TRUE(c().solarSystem()->userInteractionEnabled());
  EXPECT_EQ(c().view()->subviews().size(), 4u) << "the top bar, one radial view, the dock well and the delete area";
  EXPECT_EQ(c().solarSystem()->frame(), QRectF(0, 40, 1000, 760)) << "below the top bar's strip";
  EXPECT_EQ(c().topBar()->frame(), QRectF(0, 0, 1000, 40));
}

// An outside change that arrives during a drill, down or up: the drill ends on its idea in the
// new tree, with one radial view in the window.
TEST_F(SwitchingTest, AnOutsideChangeDuringADrillEndsOnTheIdeaOfTheNewTree) {
  IdeaPtr root = makeTree(5);
  open(root);
  IdeaPtr current = root;
  for (const bool down : {true, false}) {
    SCOPED_TRACE(down ? "drill down" : "drill up");
    if (down) {
      editor->click(editor->planet(0));
      uitest::advance(0.31);
    } else {
      c().onDrillUp();
      uitest::advance(0.05);
    }
    ASSERT_TRUE(c().isDrillingUpOrDown());
    IdeaPtr replaced = outsideVersion(current);
    opened.doc->setIdea(replaced);
    platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
    settle();
    current = replaced;
    EXPECT_FALSE(c().isDrillingUpOrDown());
    EXPECT_EQ(c().rootIdea(), replaced);
    EXPECT_EQ(c().ownIdea(), down ? replaced->ideas()[0] : replaced);
    EXPECT_EQ(c().view()->subviews().size(), 4u) << "the top bar, one radial view, the dock well and the delete area";
    EXPECT_TRUE(c().solarSystem()->userInteractionEnabled());
    EXPECT_EQ(editor->planets(), editor->children());
  }
}

// A drill's switch only prepares the new view; the window shows it from the next turn on. A
// direct switch before then drops the drill and leaves nothing half done.
TEST_F(SwitchingTest, ADrillShowsItsViewFromTheNextTurnAndADirectSwitchBeforeDropsIt) {
  IdeaPtr root = makeTree(4);
  open(root);
  auto first = c().solarSystem();
  c().switchToIdea(root->ideas()[0], /*animated=*/true);
  EXPECT_TRUE(c().isDrillingUpOrDown());
  EXPECT_EQ(c().view()->subviews().size(), 4u) << "nothing new in the window on the switch's turn";
  EXPECT_FALSE(first->userInteractionEnabled());

  IdeaPtr deep = root->ideas()[0]->ideas()[1];
  c().switchToIdea(deep, /*animated=*/false);
  settle();
  EXPECT_FALSE(c().isDrillingUpOrDown());
  EXPECT_EQ(c().ownIdea(), deep);
  EXPECT_EQ(first->superview(), nullptr);
  EXPECT_EQ(c().view()->subviews().size(), 4u) << "the top bar, one radial view, the dock well and the delete area";
  EXPECT_TRUE(c().solarSystem()->userInteractionEnabled());

  c().onDrillUp();
  EXPECT_EQ(c().view()->subviews().size(), 4u);
  uitest::advance(0.05);
  EXPECT_EQ(c().view()->subviews().size(), 5u) << "both views while the drill runs";
  settle();
  EXPECT_EQ(c().ownIdea(), root->ideas()[0]);
  EXPECT_EQ(editor->planets(), editor->children());
}

TEST_F(SwitchingTest, ALinkPlanetShowsItsTargetAsTheSunAndADanglingOneGoesNowhere) {
  IdeaPtr root = makeTree(3);
  IdeaPtr target = root->ideas()[0];
  root->addIdea(Idea::createWithLinkToIdea(target->identifier()));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("gone")));
  open(root);

  editor->click(editor->planet(4));  // the dangling link
  settle();
  EXPECT_EQ(c().ownIdea(), root) << "a link to nothing is never shown as the sun";

  editor->click(editor->planet(3));
  settle();
  EXPECT_TRUE(c().ownIdea()->isLink());
  EXPECT_EQ(c().realIdea(), target);
  EXPECT_EQ(editor->planets(), (QStringList{target->ideas()[0]->identifier(), target->ideas()[1]->identifier()}));

  // Drilling up from a link returns to the link's parent.
  c().onDrillUp();
  settle();
  EXPECT_EQ(c().ownIdea(), root);
}

TEST_F(SwitchingTest, ADanglingLinkRestoredOrReloadedShowsTheRoot) {
  IdeaPtr root = makeTree(2);
  IdeaPtr link = Idea::createWithLinkToIdea(QStringLiteral("gone"));
  root->addIdea(link);
  open(root, link->identifier());
  EXPECT_EQ(c().ownIdea(), root);
  EXPECT_EQ(c().realIdea(), root);
  EXPECT_EQ(editor->planets(), editor->children());
}

TEST_F(SwitchingTest, ADirectSwitchToADeepIdeaNeedsNoAnimationAndInputOffStopsDrills) {
  IdeaPtr root = makeTree(4);
  IdeaPtr deep = root->ideas()[0]->ideas()[1];
  open(root);
  c().switchToIdea(deep, /*animated=*/false);
  EXPECT_EQ(c().ownIdea(), deep) << "set at once";
  EXPECT_TRUE(editor->planets().isEmpty());

  c().switchToIdea(root, /*animated=*/false);
  c().occupyScreen(QStringLiteral("Test"));
  c().onDrillDownTo(root->ideas()[2]->identifier());
  settle();
  EXPECT_EQ(c().ownIdea(), root) << "no drill while the screen is occupied";
  c().liberateScreen(QStringLiteral("Test"));
  c().onDrillDownTo(root->identifier());
  settle();
  EXPECT_EQ(c().ownIdea(), root) << "the sun is no drill target";
  c().onDrillDownTo(root->ideas()[2]->identifier());
  settle();
  EXPECT_EQ(c().ownIdea(), root->ideas()[2]);
}

}  // namespace

namespace {

struct HomeScreen : orrery::BaseViewController {
  orrery::DocumentLocation location = 0;
};

TEST_F(SwitchingTest, TheHomeButtonReturnsTheTokenOnceAndShowsTheHomeScreen) {
  std::vector<std::shared_ptr<HomeScreen>> made;
  orrery::ScreenFactory factory = orrery::screenFactory();
  factory.makeHome = [&](orrery::DocumentLocation location, const QString& /*searchText*/) {
    auto home = std::make_shared<HomeScreen>();
    home->location = location;
    made.push_back(home);
    return home;
  };
  orrery::ScreenFactory previous = orrery::setScreenFactory(factory);
  auto dropbox = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/a.orrx"));
  dropbox->setIdea(makeTree(1));
  auto cloudEditor = SolarSystemViewController::create(dropbox, 0, QString());
  cloudEditor->view();
  ASSERT_TRUE(cloudEditor->topBar()->homeButton());
  EXPECT_EQ(cloudEditor->topBar()->homeButton()->superview(), cloudEditor->topBar());

  open(makeTree(2));
  EXPECT_FALSE(c().topBar()->homeButton() && c().topBar()->homeButton()->superview())
      << "a local document has no home button";
  c().pleaseSwitchToHomeView();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0]->location, orrery::DocumentLocationICloud) << "a local document leads to the iCloud home";
  EXPECT_EQ(editor->window().controller(), made[0]);
  EXPECT_EQ(c().docToken(), 0);
  EXPECT_FALSE(opened.doc->isOpen());
  c().pleaseSwitchToHomeView();
  c().topBarAction(orrery::kTopBarActionHome, QRectF());
  EXPECT_EQ(made.size(), 1u) << "the editor is leaving: nothing more happens";
  EXPECT_TRUE(c().startClosingCanCloseNow()) << "closes without returning anything again";
  orrery::setScreenFactory(std::move(previous));
  editor->closed = true;  // the window now belongs to the home screen
}

}  // namespace
