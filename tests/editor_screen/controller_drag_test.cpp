// The editor's drags through its window, driven by mouse events: a long press on a planet and
// a press on the dock well start them, the window floats the planet and the drop reaches the
// controller's decision.

#include "controller_test_support.h"

#include "drag_test_support.h"
#include "editor/dock_area_view.h"
#include "foundation/kit_image.h"
#include "foundation/views/delete_area_view.h"
#include "model/document_limits.h"
#include "platform/ui/dragging.h"

#include <QImage>

#include <random>

using namespace controllertest;
using platform::Event;
using platform::EventType;

namespace {

struct DragTest : ControllerTest {
  void TearDown() override {
    editor.reset();
    ControllerTest::TearDown();
  }
  void open(IdeaPtr root) {
    opened = createLocal(path("map.orrery"), root);
    show();
  }
  void show() {
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    uitest::place(*editor->shown, QPoint(0, 0));
  }
  SolarSystemViewController& c() { return *editor->controller; }
  orrery::DragSupportWindow& window() { return *editor->shown; }
  void send(EventType type, QPointF p) { window().sendEvent(Event::mouse(type, p, uitest::clock().now(), 1)); }
  QPointF centreOf(const platform::View& v) { return v.superview()->convertPointToView(v.frame().center(), nullptr); }

  uitest::DragSeams seams;
  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

}  // namespace

TEST_F(DragTest, ALongPressDragsAPlanetOntoAnotherWhereTheChoiceCopiesIt) {
  IdeaPtr root = makeTree(3);
  open(root);
  const QPointF from = editor->planet(2);
  const QPointF to = editor->planet(0);
  send(EventType::LeftMouseDown, from);
  uitest::advance(0.25);
  ASSERT_TRUE(platform::DraggingSession::current()) << "held still: the drag began";
  ASSERT_TRUE(window().floatingCopy());
  EXPECT_EQ(window().floatingCopy()->ideaIdentifier(), root->ideas()[2]->identifier());
  send(EventType::LeftMouseDragged, (from + to) / 2);
  send(EventType::LeftMouseDragged, to);
  presenter->menuAnswers.push_back(1);  // "Choice.CopyInside"
  send(EventType::LeftMouseUp, to);
  uitest::advance(0.05);
  // The dropped idea is read from the file on the persistence queue; the drop ends after.
  ASSERT_TRUE(waitFor([&] { return !window().floatingCopy(); }));
  ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  EXPECT_EQ(root->ideas().size(), 3u);
  ASSERT_EQ(root->ideas()[0]->ideas().size(), 3u);
  EXPECT_EQ(root->ideas()[0]->ideas().back()->text(), QStringLiteral("c2"));
  EXPECT_FALSE(window().floatingCopy());
  EXPECT_EQ(platform::DraggingSession::current(), nullptr);
  EXPECT_EQ(window().sourceSessionNumber(), orrery::DragSupportWindow::kNoSession);
}

TEST_F(DragTest, APlanetParkedInTheWellIsDraggedOutOntoTheDeleteAreaAndLeavesTheDock) {
  IdeaPtr root = makeTree(3);
  open(root);
  orrery::DockAreaView* well = c().dockAreaView();
  orrery::DeleteAreaView* bin = c().deleteAreaView();
  ASSERT_TRUE(well && bin);
  const QPointF from = editor->planet(1);
  send(EventType::LeftMouseDown, from);
  uitest::advance(0.25);
  ASSERT_TRUE(platform::DraggingSession::current());
  EXPECT_FALSE(well->isHidden()) << "shown during a drag";
  const QPointF wellCentre = centreOf(*well);
  send(EventType::LeftMouseDragged, wellCentre);
  send(EventType::LeftMouseUp, wellCentre);
  uitest::advance(0.05);
  ASSERT_TRUE(waitFor([&] { return !window().floatingCopy(); }));
  ASSERT_TRUE(window().currentDockedIdea());
  EXPECT_EQ(window().currentDockedIdea()->identifier(), root->ideas()[1]->identifier());
  EXPECT_EQ(window().currentDockedDocIdentifier(), opened.doc->docIdentifier());
  ASSERT_TRUE(well->ideaView());

  // A press on the docked planet drags it; dropped on the bin it leaves the dock, the tree keeps it.
  send(EventType::LeftMouseDown, wellCentre);
  ASSERT_TRUE(platform::DraggingSession::current());
  EXPECT_FALSE(bin->isHidden());
  const QPointF binCentre = centreOf(*bin);
  send(EventType::LeftMouseDragged, binCentre);
  send(EventType::LeftMouseUp, binCentre);
  uitest::advance(0.05);
  ASSERT_TRUE(waitFor([&] { return !window().floatingCopy(); }));
  EXPECT_FALSE(window().currentDockedIdea());
  EXPECT_TRUE(well->isHidden());
  EXPECT_TRUE(bin->isHidden());
  EXPECT_EQ(root->ideas().size(), 3u);
  EXPECT_EQ(platform::DraggingSession::current(), nullptr);
}

// Pictures from the dock fill a map up to what a map holds: the last that fits is saved and the
// map opens again with it; the next is refused, saying why, and the map keeps all it had.
TEST_F(DragTest, PicturesFromTheDockFillAMapToItsLimitAndTheNextIsRefusedSayingWhy) {
  QImage noise(1600, 1200, QImage::Format_RGB32);
  std::mt19937 random(61);
  for (int y = 0; y < noise.height(); ++y) {
    auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
    for (int x = 0; x < noise.width(); ++x) line[x] = random();
  }
  const IdeaPtr picture = orrery::Idea::createWithOriginalImage(orrery::KitImage(noise));
  const qint64 each = orrery::DocumentSize::of(*picture, 2).jsonBytes;
  // An album just one picture short of the limit, beside the planet the pictures are dropped on.
  IdeaPtr root = idea(QStringLiteral("Map"));
  root->addIdea(idea(QStringLiteral("Album")));
  root->addIdea(idea(QStringLiteral("Drop here")));
  const qint64 count = (orrery::DocumentLimits::kMaxJSONBytes - 4096) / each - 1;
  for (qint64 i = 0; i < count; ++i) root->ideas()[0]->addIdea(picture->deepCopyWithNewIdentifiersNoExternalLinks());
  // Written whole before the window shows: 256 MB compressed takes seconds.
  const platform::Millis writing(120000);
  opened.doc = IdeaDocument::createWithFileName(path(QStringLiteral("map.orrery")), orrery::DocumentLocationLocalFile);
  opened.doc->setIdea(root);
  bool created = false;
  orrery::PersistenceController::singleton().createDocument(opened.doc, [&](orrery::DocumentToken t) {
    opened.token = t;
    created = true;
  });
  ASSERT_TRUE(uitest::loop().runUntil([&] { return created; }, writing));
  show();
  const qint64 stored = opened.doc->storedSize().jsonBytes;
  ASSERT_TRUE(stored + each <= orrery::DocumentLimits::kMaxJSONBytes &&
              stored + 2 * each > orrery::DocumentLimits::kMaxJSONBytes)
      << stored << " + " << each;

  const IdeaPtr target = root->ideas()[1];
  auto dropFromTheDock = [&] {
    window().setDockedIdea(picture, QString());
    c().updateStatusDueToPossibleDockingUpdate();
    const QPointF well = centreOf(*c().dockAreaView());
    send(EventType::LeftMouseDown, well);
    ASSERT_TRUE(platform::DraggingSession::current());
    send(EventType::LeftMouseDragged, editor->planet(1));
    presenter->menuAnswers.push_back(0);  // "Choice.CopyInside"
    send(EventType::LeftMouseUp, editor->planet(1));
    uitest::advance(0.05);
    ASSERT_TRUE(waitFor([&] { return !window().floatingCopy(); }));
    ASSERT_TRUE(uitest::loop().runUntil([&] { return !c().isUpdatingDocument(); }, writing));
  };
  dropFromTheDock();
  ASSERT_EQ(target->ideas().size(), 1u) << "the last picture that fits";
  EXPECT_TRUE(presenter->alerts.empty());
  EXPECT_TRUE(opened.doc->lastUserFriendlyError().isEmpty()) << opened.doc->lastUserFriendlyError().toStdString();

  dropFromTheDock();
  EXPECT_EQ(target->ideas().size(), 1u) << "no room for the next";
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText.toStdString(), orrery::DocumentLimits::documentFullMessage().toStdString());
  EXPECT_EQ(root->ideas()[0]->ideas().size(), std::size_t(count)) << "the map keeps what it had";
  EXPECT_EQ(window().currentDockedIdea(), picture) << "the picture stays in the dock";

  editor.reset();
  const IdeaPtr onDisk = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(onDisk) << "the map at its limit opens again";
  EXPECT_EQ(onDisk->ideas()[0]->ideas().size(), std::size_t(count));
  ASSERT_EQ(onDisk->ideas()[1]->ideas().size(), 1u);
  EXPECT_EQ(onDisk->ideas()[1]->ideas()[0]->bigImageData(), picture->bigImageData());
}
