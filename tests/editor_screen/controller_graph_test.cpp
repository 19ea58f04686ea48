#include "controller_test_support.h"

#include "foundation/views/search_text_field.h"
#include "graph/graph_scroll_view.h"
#include "model/icon_image.h"
#include "model/idea_snapshot.h"

using namespace controllertest;
using orrery::GraphScrollView;
using orrery::Idea;
using orrery::IdeaSnapshot;

namespace {

struct NewWindowRecorder : RecordingAppDelegate {
  std::vector<std::pair<QString, QString>> newWindows;
  void openDocumentInNewWindow(const QString& doc, const QString& idea) override { newWindows.emplace_back(doc, idea); }
};

struct GraphStateTest : ControllerTest {
  void SetUp() override {
    ControllerTest::SetUp();
    orrery::Globals::setApp(&recorder);
  }
  void open(IdeaPtr tree) {
    root = std::move(tree);
    opened = createLocal(path(QStringLiteral("graph.orrery")), root);
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &recorder);
  }
  SolarSystemViewController& c() { return *editor->controller; }
  void type(const QString& text) {
    c().topBar()->setCurrentSearchText(text);
    c().topBarSearchStatusDidChange(true);
  }
  // Waits for the graph requested last to be built and shown.
  bool graphBuilt() {
    return uitest::loop().runUntil([&] { return c().graphScrollView() && !c().graphScrollView()->isBuilding(); });
  }
  bool graphShown() { return c().graphScrollView() && !c().graphScrollView()->isHidden() && c().solarSystem()->isHidden(); }
  bool radialShown() { return !c().solarSystem()->isHidden() && (!c().graphScrollView() || c().graphScrollView()->isHidden()); }
  // The window point of an idea in the graph.
  QPointF inGraph(const IdeaPtr& idea) {
    GraphScrollView& g = *c().graphScrollView();
    const QPointF p = (g.tileFactory()->ideaLocation(idea) - g.dataCenter()) * g.zoomScale() +
                      QPointF(g.bounds().width() / 2, g.bounds().height() / 2);
    return g.convertPointToView(p, nullptr);
  }
  // Whether the graph's filter keeps the idea.
  bool kept(const IdeaPtr& idea) {
    auto factory = c().graphScrollView()->tileFactory();
    const std::int32_t index = factory->snapshot()->indexOfIdentifier(idea->identifier());
    return factory->ideaIndexAtPoint(factory->locationOfIdeaIndex(index)) == index && !faded(index);
  }
  bool faded(std::int32_t index) {
    const QString text = c().topBar()->currentSearchText();
    if (text.isNull()) return false;
    return !SolarSystemViewController::graphFilterForSearch(text.toLower())(c().graphScrollView()->tileFactory()->snapshot()->node(index));
  }

  NewWindowRecorder recorder;
  IdeaPtr root;
  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

}  // namespace

TEST_F(GraphStateTest, ToggleAndSearchMoveThroughTheFourStates) {
  open(makeTree(5));
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial);
  c().topBarAction(orrery::kTopBarActionMindmapToggle, QRectF());
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraph);
  EXPECT_TRUE(c().screenOccupied()) << "the cross-fade holds the screen";
  uitest::advance(0.5);
  EXPECT_TRUE(graphShown());
  EXPECT_FALSE(c().screenOccupied());
  EXPECT_EQ(editor->window().firstResponder(), c().graphScrollView().get());
  EXPECT_EQ(c().graphScrollView()->frame(), QRectF(0, 40, 1000, 760));
  ASSERT_TRUE(graphBuilt());
  // The View menu's zoom commands travel the responder chain from the graph.
  const float zoom = c().graphScrollView()->zoomScale();
  EXPECT_TRUE(editor->window().firstResponder()->tryToPerform(QStringLiteral("cmdZoomIn")));
  EXPECT_FLOAT_EQ(c().graphScrollView()->zoomScale(), zoom * 1.5f);

  type(QStringLiteral("Idea"));
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraphSearch);
  c().topBarAction(orrery::kTopBarActionMindmapToggle, QRectF());
  uitest::advance(0.5);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraphSearch) << "no way back while text is there";
  type(QString());
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraph);
  EXPECT_TRUE(graphShown()) << "the graph stays";

  c().topBarAction(orrery::kTopBarActionMindmapToggle, QRectF());
  uitest::advance(0.5);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial);
  EXPECT_TRUE(radialShown());

  type(QStringLiteral("child"));
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadialSearch);
  uitest::advance(0.5);
  EXPECT_TRUE(graphShown());
  type(QString());
  uitest::advance(0.5);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial);
  EXPECT_TRUE(radialShown());
}

TEST_F(GraphStateTest, CtrlFInTheGraphStartsTheSearchButNotWhileResultsShow) {
  open(makeTree(4));
  c().cmdToggleMindmap();
  uitest::advance(0.5);
  ASSERT_EQ(editor->window().firstResponder(), c().graphScrollView().get());
  const auto commandF = [this] {
    editor->window().sendEvent(platform::Event::key(platform::EventType::KeyDown, 0, QStringLiteral("f"),
                                                    platform::ModifierFlag::Command, uitest::clock().now()));
  };
  commandF();
  EXPECT_EQ(editor->window().firstResponder(), c().topBar()->searchTextField()->hostedField().get());

  type(QStringLiteral("nothing matches"));
  ASSERT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraphSearch);
  editor->window().makeFirstResponder(c().graphScrollView().get());
  commandF();
  EXPECT_EQ(editor->window().firstResponder(), c().graphScrollView().get()) << "results keep the focus";
}

TEST_F(GraphStateTest, EscapeStepsBackByState) {
  open(makeTree(4));
  c().cancelOperation();
  EXPECT_EQ(c().ownIdea(), root) << "at the root Escape does nothing";
  c().cmdToggleMindmap();
  uitest::advance(0.5);
  // The Escape key, from the graph as first responder, reaches the controller.
  ASSERT_EQ(editor->window().firstResponder(), c().graphScrollView().get());
  editor->window().sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Escape,
                                                  QStringLiteral("\x1b"), 0, uitest::clock().now()));
  uitest::advance(0.5);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial) << "2: back to the radial view";

  c().cmdToggleMindmap();
  uitest::advance(0.5);
  type(QStringLiteral("nothing matches"));
  ASSERT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraphSearch);
  ASSERT_TRUE(graphBuilt());
  const auto filtered = c().graphScrollView()->tileFactory();
  c().cancelOperation();
  ASSERT_TRUE(graphBuilt());
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateGraph) << "3: back to the graph";
  EXPECT_TRUE(c().topBar()->currentSearchText().isEmpty());
  EXPECT_NE(c().graphScrollView()->tileFactory(), filtered) << "the filter is dropped";
  EXPECT_TRUE(graphShown());

  c().cancelOperation();
  uitest::advance(0.5);
  type(QStringLiteral("x"));  // from the radial view: state 4
  ASSERT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadialSearch);
  uitest::advance(0.5);
  c().cancelOperation();
  uitest::advance(0.5);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial) << "4: text gone, radial view back";
  EXPECT_TRUE(c().topBar()->currentSearchText().isEmpty());
  EXPECT_TRUE(radialShown());
}

TEST(GraphSearchFilter, LowerCaseTitlesIconSymbolsLinksByTargetAndTextIdeasOnly) {
  IdeaPtr tree = idea(QStringLiteral("Root"));
  IdeaPtr upper = idea(QStringLiteral("Big APPLE"));
  IdeaPtr iconOnly = idea(QStringLiteral("plain"));
  iconOnly->setIconImage(std::make_shared<orrery::IconImage>(QStringLiteral("apple"), QStringLiteral("food"), QStringLiteral("🍎")));
  IdeaPtr web = Idea::createWithURL(QStringLiteral("https://apple.example"), orrery::KitImage());
  for (const IdeaPtr& i : {upper, iconOnly, web}) tree->addIdea(i);
  tree->addIdea(Idea::createWithLinkToIdea(upper->identifier()));
  tree->addIdea(Idea::createWithLinkToIdea(QStringLiteral("gone")));
  auto snapshot = IdeaSnapshot::create(tree);
  auto keeps = [&](const QString& text, int index) { return SolarSystemViewController::graphFilterForSearch(text)(snapshot->node(index)); };
  EXPECT_TRUE(keeps(QStringLiteral("apple"), 1)) << "titles compare in lower case";
  EXPECT_FALSE(keeps(QStringLiteral("apple"), 0));
  EXPECT_TRUE(keeps(QStringLiteral("🍎"), 2)) << "the icon's symbol counts";
  EXPECT_FALSE(keeps(QStringLiteral("apple"), 3)) << "web links are no text ideas";
  EXPECT_TRUE(keeps(QStringLiteral("apple"), 4)) << "a link is judged by its target";
  EXPECT_FALSE(keeps(QStringLiteral("apple"), 5)) << "a link without target is rejected";
  EXPECT_TRUE(keeps(QString(), 3)) << "an empty text keeps everything";
}

TEST_F(GraphStateTest, AChoiceInTheGraphIsShownInTheRadialView) {
  IdeaPtr tree = makeTree(4);
  IdeaPtr deep = idea(QStringLiteral("deep"));
  tree->ideas()[2]->addIdea(deep);
  open(tree);
  c().cmdToggleMindmap();
  uitest::advance(0.5);
  ASSERT_TRUE(graphBuilt());
  ASSERT_TRUE(uitest::loop().runUntil([&] { return c().graphScrollView()->graphView() && c().graphScrollView()->graphView()->ready(); }));
  editor->click(inGraph(deep));
  uitest::advance(0.2);  // the 0.1 s focus
  uitest::advance(0.5);  // the cross-fade
  EXPECT_EQ(c().ownIdea(), deep);
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial);
  EXPECT_TRUE(radialShown());
  EXPECT_EQ(editor->window().firstResponder(), c().solarSystem().get());

  // "Open in New Window" asks the application for this document and idea.
  c().openIdeaInNewWindow(tree->ideas()[1]);
  ASSERT_EQ(recorder.newWindows.size(), 1u);
  EXPECT_EQ(recorder.newWindows[0], std::make_pair(opened.doc->docIdentifier(), tree->ideas()[1]->identifier()));
}

// Another instance or sync replaces the tree while the graph shows: the graph shows the new
// tree, the radial view stays behind it, and a choice in it is an idea of the new tree.
TEST_F(GraphStateTest, AnOutsideChangeWhileTheGraphShowsIsWhatTheGraphAndItsChoiceShow) {
  open(makeTree(4));
  c().cmdToggleMindmap();
  uitest::advance(0.5);
  IdeaPtr replaced = outsideVersion(root);
  opened.doc->setIdea(replaced);
  platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
  EXPECT_TRUE(graphShown());
  EXPECT_EQ(editor->window().firstResponder(), c().graphScrollView().get());
  // The graph is built off the main thread: the build of the tree before the change may finish
  // first, so wait for the one that holds the new tree.
  const IdeaPtr theirs = replaced->ideas().back();
  ASSERT_TRUE(uitest::loop().runUntil([&] {
    const auto& scroll = c().graphScrollView();
    return scroll->graphView() && scroll->graphView()->ready() && scroll->tileFactory()->snapshot() &&
           scroll->tileFactory()->snapshot()->indexOfIdentifier(theirs->identifier()) >= 0;
  }));

  const IdeaPtr chosen = replaced->ideas()[2];
  editor->click(inGraph(chosen));
  uitest::advance(0.2);
  uitest::advance(0.5);
  EXPECT_EQ(c().ownIdea(), chosen);
  EXPECT_EQ(c().rootIdea(), replaced) << "the next save writes the new tree";
  EXPECT_TRUE(radialShown());
}

TEST_F(GraphStateTest, SearchHandedOverOpensTheGraphAtOnce) {
  open(makeTree(3));
  c().makeSearch(QString());
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadial);
  c().makeSearch(QStringLiteral("child"));
  EXPECT_EQ(c().solarSystemState(), orrery::kSolarSystemStateRadialSearch);
  EXPECT_TRUE(graphShown()) << "without animation";
  EXPECT_FALSE(c().screenOccupied());
}

TEST_F(GraphStateTest, EditingTheTreeWhileTilesRenderReadsOnlyTheSnapshot) {
  IdeaPtr tree = makeTree(30);
  for (int i = 0; i < 30; ++i) tree->ideas()[static_cast<std::size_t>(i)]->addIdea(idea(QStringLiteral("g%1").arg(i)));
  open(tree);
  c().cmdToggleMindmap();
  // The tiles are queued; the tree changes under them, repeatedly.
  IdeaPtr removed = tree->ideas()[3];
  const QString removedId = removed->identifier();
  const QString firstTitle = tree->ideas()[0]->text();
  for (int round = 0; round < 20; ++round) {
    tree->addIdea(idea(QStringLiteral("new %1").arg(round)));
    tree->ideas()[static_cast<std::size_t>(round)]->setText(QStringLiteral("renamed"));
  }
  tree->removeIdea(removedId);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return c().graphScrollView()->graphView() && c().graphScrollView()->graphView()->ready(); }));
  const auto& shown = *c().graphScrollView()->tileFactory()->snapshot();
  EXPECT_EQ(shown.node(1).text, firstTitle) << "the tiles show the tree as it was when the graph opened";
  EXPECT_GE(shown.indexOfIdentifier(removedId), 0);
  uitest::advance(0.5);
  // Shown again, the graph shows the tree as it is now.
  c().cmdToggleMindmap();
  uitest::advance(0.5);
  c().cmdToggleMindmap();
  ASSERT_TRUE(graphBuilt());
  EXPECT_EQ(c().graphScrollView()->tileFactory()->snapshot()->size(), tree->calculateWholeTreeSize());
  uitest::advance(0.5);
}
