#include "controller_test_support.h"
#include "../foundation/log_capture.h"

#include "foundation/views/custom_alert_view.h"
#include "model/idea_arrival.h"

using namespace controllertest;
using orrery::Idea;

namespace {

struct OperationsTest : ControllerTest {
  void open(int count = 5) {
    opened = createLocal(path(QStringLiteral("ops.orrery")), makeTree(count));
    ASSERT_GE(opened.token, 1);
    editor =
        std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  }
  SolarSystemViewController& c() { return *editor->controller; }
  QStringList order() { return texts(c().realIdea()->ideas()); }
  IdeaPtr child(int i) { return c().realIdea()->ideas()[static_cast<size_t>(i)]; }
  // After every edit the planets are the children, in order, and the file gets the tree.
  void expectShownAndSaved() {
    uitest::advance(1.0);
    EXPECT_EQ(editor->planets(), editor->children());
    ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
    IdeaPtr saved = readTree(opened.doc->filePath());
    ASSERT_TRUE(saved);
    IdeaPtr shown = saved->findIdeaInSubTreeWithIdentifier(c().realIdea()->identifier());
    ASSERT_TRUE(shown);
    EXPECT_EQ(texts(shown->ideas()), texts(c().realIdea()->ideas()));
  }
  std::function<void(bool)> record(std::vector<bool>& results) {
    return [&results](bool ok) { results.push_back(ok); };
  }

  Opened opened;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(OperationsTest, PositionsFollowTheAddersAroundTheOrbit) {
  open(5);
  EXPECT_EQ(c().indexAfter(4), 5) << "after the last adder appends";
  EXPECT_EQ(c().indexAfter(-3), 0);
  EXPECT_EQ(c().indexAfter(1), 2);
  EXPECT_EQ(c().safeInsertionIndexFromFocusIndex(7), 0);
  EXPECT_EQ(c().safeInsertionIndexFromFocusIndex(3), 3);
  EXPECT_FALSE(c().childIdeaAtFocusIndex(5));
  EXPECT_TRUE(SolarSystemViewController::isInsertionIndexAttachedToIndex(4, 0, 5)) << "the last adder touches planet 0";
  EXPECT_TRUE(SolarSystemViewController::isInsertionIndexAttachedToIndex(2, 3, 5));
  EXPECT_FALSE(SolarSystemViewController::isInsertionIndexAttachedToIndex(2, 4, 5));
  EXPECT_TRUE(c().isOurChildIdea(child(2)->identifier()));
  EXPECT_TRUE(c().isOurCentralIdea(c().rootIdea()->identifier()));
  EXPECT_FALSE(c().isOurParentIdea(c().rootIdea()->identifier()));
}

TEST_F(OperationsTest, MovesAlongTheOrbitLandBetweenTheRightNeighbours) {
  open(5);
  std::vector<bool> results;
  c().moveIdeaAfter(child(1), opened.doc->docIdentifier(), 3, record(results));
  EXPECT_EQ(order(), (QStringList{"c0", "c2", "c3", "c1", "c4"}));
  expectShownAndSaved();
  c().moveIdeaAfter(child(3), opened.doc->docIdentifier(), 0, record(results));
  EXPECT_EQ(order(), (QStringList{"c0", "c1", "c2", "c3", "c4"}));
  expectShownAndSaved();
  EXPECT_EQ(results, (std::vector<bool>{true, true}));
}

TEST_F(OperationsTest, NewIdeasLinksAndCopiesLandAtTheAddersPosition) {
  open(5);
  c().addNewIdeaAfterIndex(4, idea(QStringLiteral("last")), nullptr);
  EXPECT_EQ(order().last(), QStringLiteral("last"));
  expectShownAndSaved();

  std::vector<bool> results;
  IdeaPtr target = child(2);
  c().createLinkToIdea(target, 0, record(results));
  c().copyIdeaAfter(child(3), 0, record(results));
  // Both landed at index 1; the copy came second, so the link moved on to index 2.
  EXPECT_EQ(child(1)->text(), QStringLiteral("c2"));
  EXPECT_NE(child(1)->identifier(), target->identifier()) << "a copy has identifiers of its own";
  EXPECT_TRUE(child(2)->isLink());
  EXPECT_EQ(child(2)->linkedIdea(), target);
  expectShownAndSaved();
  EXPECT_EQ(results, (std::vector<bool>{true, true}));
}

TEST_F(OperationsTest, AnEmptyOrbitTakesItsFirstIdeaAtIndexZero) {
  open(0);
  c().addNewIdeaAfterIndex(2, idea(QStringLiteral("first")), nullptr);
  EXPECT_EQ(order(), QStringList{QStringLiteral("first")});
  expectShownAndSaved();
}

TEST_F(OperationsTest, MovesInsideIntoTheParentAndFromElsewhereInTheTree) {
  open(5);
  std::vector<bool> results;
  // A grandchild comes up into the orbit.
  IdeaPtr g0 = child(0)->ideas()[0];
  c().moveIdeaAfter(g0, opened.doc->docIdentifier(), 1, record(results));
  EXPECT_EQ(order(), (QStringList{"c0", "c1", "g0", "c2", "c3", "c4"}));
  EXPECT_EQ(texts(child(0)->ideas()), QStringList{QStringLiteral("g1")});
  expectShownAndSaved();
  // And goes into the last planet.
  IdeaPtr c4 = child(5);
  c().moveIdeaInside(g0, opened.doc->docIdentifier(), 5, record(results));
  EXPECT_EQ(texts(c4->ideas()), QStringList{QStringLiteral("g0")});
  EXPECT_EQ(order(), (QStringList{"c0", "c1", "c2", "c3", "c4"}));
  expectShownAndSaved();
  // The root has no parent: nothing to move or copy into.
  c().moveToParentTheIdea(child(1), opened.doc->docIdentifier(), record(results));
  c().copyToParentTheIdea(child(1), record(results));
  EXPECT_EQ(results, (std::vector<bool>{true, true, false, false}));

  // Below the root, the parent takes moves and copies.
  c().switchToIdea(child(0), /*animated=*/false);
  c().moveToParentTheIdea(c().realIdea()->ideas()[0], opened.doc->docIdentifier(), record(results));
  EXPECT_TRUE(c().realIdea()->ideas().empty());
  EXPECT_EQ(texts(c().rootIdea()->ideas()).last(), QStringLiteral("g1"));
  c().copyIdeaInside(c().rootIdea()->ideas()[1], 0, record(results));  // no planet 0 any more
  expectShownAndSaved();
  EXPECT_EQ(results, (std::vector<bool>{true, true, false, false, true, false}));
}

TEST_F(OperationsTest, AnIdeaNeverMovesIntoItsOwnSubtree) {
  open(5);
  std::vector<bool> results;
  IdeaPtr c0 = child(0);
  c().switchToIdea(c0, /*animated=*/false);
  const QString before = texts(c().rootIdea()->ideas()).join(',');
  // The shown idea's own ancestor into its orbit, and a planet into itself.
  c().moveIdeaAfter(c0, opened.doc->docIdentifier(), 0, record(results));
  c().moveIdeaInside(c().realIdea()->ideas()[0], opened.doc->docIdentifier(), 0, record(results));
  EXPECT_EQ(results, (std::vector<bool>{false, false}));
  EXPECT_EQ(texts(c().rootIdea()->ideas()).join(','), before) << "nothing was detached";
  EXPECT_EQ(c0->parent(), c().rootIdea());
  EXPECT_EQ(texts(c0->ideas()), (QStringList{"g0", "g1"}));
}

TEST_F(OperationsTest, ASameDocumentMoveOfAVanishedIdeaChangesNothing) {
  open(5);
  std::vector<bool> results;
  c().moveIdeaAfter(idea(QStringLiteral("stranger")), opened.doc->docIdentifier(), 0, record(results));
  EXPECT_EQ(results, std::vector<bool>{false});
  EXPECT_EQ(order().size(), 5);
}

TEST_F(OperationsTest, AMoveFromAnotherDocumentCopiesInThenTakesItOutThere) {
  open(5);
  IdeaPtr otherRoot = idea(QStringLiteral("other"));
  IdeaPtr leaving = idea(QStringLiteral("leaving"));
  leaving->addIdea(Idea::createWithLinkToIdea(otherRoot->identifier()));
  otherRoot->addIdea(leaving);
  Opened other = createLocal(path(QStringLiteral("other.orrery")), otherRoot);
  ASSERT_GE(other.token, 1);

  std::vector<bool> results;
  c().moveIdeaAfter(leaving, other.doc->docIdentifier(), 0, record(results));
  ASSERT_TRUE(waitFor([&] { return !results.empty(); }));
  EXPECT_EQ(results, std::vector<bool>{true});
  IdeaPtr arrived = child(1);
  EXPECT_EQ(arrived->text(), QStringLiteral("leaving"));
  EXPECT_NE(arrived->identifier(), leaving->identifier());
  ASSERT_EQ(arrived->ideas().size(), 1u);
  EXPECT_FALSE(arrived->ideas()[0]->isLink()) << "a link leading out of the copy became a plain idea";
  expectShownAndSaved();
  IdeaPtr otherSaved = readTree(other.doc->filePath());
  ASSERT_TRUE(otherSaved);
  EXPECT_TRUE(otherSaved->ideas().empty()) << "the idea left its own document";
  orrery::PersistenceController::singleton().releaseDocument(other.doc, other.token, nullptr);
}

// What comes into the map asks the room it takes as it arrives: a copy from another map whose
// link leads out of it carries the target's note, and a move into a planet without children opens
// its list. With a byte less than that left each is refused, saying why, and both maps keep all.
TEST_F(OperationsTest, WhatComesInAsksTheRoomItTakesAsItArrives) {
  open(5);
  IdeaPtr otherRoot = idea(QStringLiteral("other"));
  IdeaPtr notes = idea(QStringLiteral("notes"));
  notes->setNote(QString(10000, QChar(u'n')));
  IdeaPtr part = idea(QStringLiteral("part"));
  part->addIdea(Idea::createWithLinkToIdea(notes->identifier()));
  otherRoot->addIdea(notes);
  otherRoot->addIdea(part);
  Opened other = createLocal(path(QStringLiteral("other.orrery")), otherRoot);
  ASSERT_GE(other.token, 1);
  const IdeaPtr target = child(1);
  const qint64 copy = orrery::IdeaArrival::copyOf(*part, *target, /*keepingLinks=*/false).added.jsonBytes;
  ASSERT_GT(copy, 10000) << "the note the link leads to";
  const qint64 left = orrery::DocumentLimits::kMaxJSONBytes - opened.doc->storedSize().jsonBytes;
  LogCapture log;
  std::vector<bool> results;
  // Held elsewhere: all the ideas and icons the map has room for.
  const int elsewhere = 0;
  ASSERT_TRUE(opened.doc->holdRoom(
      &elsewhere, orrery::DocumentSize{0, orrery::DocumentLimits::kMaxObjects - opened.doc->storedSize().objects, 0}));
  c().copyIdeaInside(part, 1, record(results));
  opened.doc->releaseRoom(&elsewhere);
  ASSERT_TRUE(opened.doc->makeRoomFor(orrery::DocumentSize{left - copy + 1, 0, 0}));

  c().copyIdeaInside(part, 1, record(results));
  c().moveIdeaInside(part, other.doc->docIdentifier(), 1, record(results));
  // Ten bytes: ,"ideas":[ and ] less the comma the move takes from the orbit.
  ASSERT_TRUE(opened.doc->makeRoomFor(orrery::DocumentSize{copy - 1 - 9, 0, 0}));
  c().moveIdeaInside(child(2), opened.doc->docIdentifier(), 1, record(results));
  EXPECT_EQ(results, (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(order(), (QStringList{"c0", "c1", "c2", "c3", "c4"}));
  EXPECT_TRUE(target->ideas().empty());
  // Each refusal is logged with the limit that refused it.
  const QString file = opened.doc->filePath();
  EXPECT_EQ(log.lines().filter(": no room for ").join('\n'),
            QStringList({file + ": no room for 2 more ideas and icons",
                         file + ": no room for " + QString::number(copy) + " more bytes",
                         file + ": no room for " + QString::number(copy) + " more bytes",
                         file + ": no room for 10 more bytes"})
                .join('\n'));
  ASSERT_EQ(presenter->alerts.size(), 4u);
  for (const auto& alert : presenter->alerts)
    EXPECT_EQ(alert.informativeText.toStdString(), orrery::DocumentLimits::documentFullMessage().toStdString());
  expectShownAndSaved();
  const IdeaPtr otherSaved = readTree(other.doc->filePath());
  ASSERT_TRUE(otherSaved);
  EXPECT_EQ(texts(otherSaved->ideas()), (QStringList{"notes", "part"})) << "the refused move left the idea in its map";
  orrery::PersistenceController::singleton().releaseDocument(other.doc, other.token, nullptr);
}

TEST_F(OperationsTest, DeletingTakesTheLinksIntoTheSubtreeAndTheirPlanets) {
  open(5);
  IdeaPtr c0 = child(0);
  IdeaPtr g1 = c0->ideas()[1];
  std::vector<bool> results;
  c().createLinkToIdea(g1, 4, record(results));  // a planet pointing into c0's subtree
  c().createLinkToIdea(child(2), 4, record(results));
  child(3)->addIdea(Idea::createWithLinkToIdea(c0->identifier()));
  uitest::advance(1.0);
  ASSERT_EQ(order().size(), 7);

  EXPECT_TRUE(c().deleteIdeaWithIdentifier(c0->identifier()));
  EXPECT_EQ(order(), (QStringList{"c1", "c2", "c3", "c4", "->" + child(1)->identifier()}));
  EXPECT_TRUE(child(2)->ideas().empty()) << "links deeper in the tree went too";
  expectShownAndSaved();
  EXPECT_FALSE(c().deleteIdeaWithIdentifier(QStringLiteral("nobody")));
}

TEST_F(OperationsTest, TheContextMenuDeleteAsksAccordingToWhatTheIdeaHolds) {
  open(5);
  IdeaPtr withChildren = child(0);
  withChildren->ideas()[0]->addIdea(idea(QStringLiteral("deep")));
  IdeaPtr picture = Idea::createWithOriginalImage(orrery::KitImage(QImage(8, 8, QImage::Format_ARGB32)));
  picture->setNote(QStringLiteral("note too"));
  IdeaPtr noted = child(2);
  noted->setNote(QStringLiteral("a note"));
  c().addNewIdeaAfterIndex(0, picture, nullptr);
  std::vector<bool> ignored;
  c().createLinkToIdea(child(3), 0, record(ignored));
  uitest::advance(1.0);

  presenter->alertAnswers = {1001, 1001, 1001};  // Cancel each time
  c().onDeleteItem(withChildren->identifier());
  c().onDeleteItem(picture->identifier());
  c().onDeleteItem(noted->identifier());
  ASSERT_EQ(presenter->alerts.size(), 3u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Delete"));
  EXPECT_EQ(presenter->alerts[0].informativeText, QStringLiteral("Element contains 3 sub-elements. Are you sure?"));
  EXPECT_EQ(presenter->alerts[1].informativeText, QStringLiteral("Element contains an image. Are you sure?"));
  EXPECT_EQ(presenter->alerts[2].informativeText, QStringLiteral("Element contains a note. Are you sure?"));
  EXPECT_EQ(order().size(), 7) << "cancel deleted nothing";
  EXPECT_FALSE(c().screenOccupied());

  // A link and a plain idea go without a question; "Delete" deletes.
  c().onDeleteItem(child(1)->identifier());
  c().onDeleteItem(child(4)->identifier());
  EXPECT_EQ(presenter->alerts.size(), 3u);
  presenter->alertAnswers = {1000};
  c().onDeleteItem(noted->identifier());
  EXPECT_FALSE(c().childIdeaWithIdentifier(noted->identifier()));
  EXPECT_EQ(order().size(), 4);
  expectShownAndSaved();
}

TEST_F(OperationsTest, AWindowShowingAnIdeaRefusesDeletingItOrItsAncestors) {
  open(5);
  IdeaPtr c0 = child(0);
  auto again = openAgain(opened.doc);
  EditorWindow second(SolarSystemViewController::create(opened.doc, again.token, c0->ideas()[0]->identifier()), &app);
  EXPECT_FALSE(second.controller->canWeSafelyDeleteIdea(c0->identifier(), opened.doc->docIdentifier()));
  EXPECT_TRUE(second.controller->canWeSafelyDeleteIdea(child(1)->identifier(), opened.doc->docIdentifier()));
  EXPECT_TRUE(second.controller->canWeSafelyDeleteIdea(c0->identifier(), QStringLiteral("file:///elsewhere")));

  EXPECT_FALSE(c().deleteIdeaWithIdentifier(c0->identifier()));
  EXPECT_EQ(order().size(), 5);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText,
            QStringLiteral("Document is open in other window. Please close the window before deleting document."));
  EXPECT_TRUE(c().deleteIdeaWithIdentifier(child(1)->identifier()));
}

}  // namespace

// However an idea comes in (typed, dropped as a copy or a move, from this map or another), it
// goes no deeper than a map holds: beyond, it is refused, saying why, and the map keeps what it
// had. The map at its deepest saves and opens again.
TEST_F(OperationsTest, NothingGoesDeeperThanAMapHolds) {
  const int deepest = orrery::DocumentLimits::kMaxDepth;
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr pair = idea(QStringLiteral("pair"));
  pair->addIdea(idea(QStringLiteral("inner")));
  root->addIdea(pair);
  root->addIdea(idea(QStringLiteral("leaf")));
  // Shown: an idea one level above the deepest.
  IdeaPtr shown = root;
  for (int level = 2; level < deepest; ++level) {
    shown->addIdea(idea(QStringLiteral("level %1").arg(level)));
    shown = shown->ideas().back();
  }
  opened = createLocal(path(QStringLiteral("deep.orrery")), root);
  ASSERT_GE(opened.token, 1);
  editor = std::make_unique<EditorWindow>(
      SolarSystemViewController::create(opened.doc, opened.token, shown->identifier()), &app);
  ASSERT_EQ(c().realIdea(), shown);
  const QString doc = opened.doc->docIdentifier();
  IdeaPtr foreign = idea(QStringLiteral("foreign"));
  foreign->addIdea(idea(QStringLiteral("below")));

  std::vector<bool> results;
  // At the deepest level a leaf fits.
  c().addNewIdeaAfterIndex(-1, idea(QStringLiteral("deepest")), nullptr);
  c().moveIdeaAfter(root->ideas()[1], doc, 0, record(results));
  ASSERT_EQ(order(), (QStringList{"deepest", "leaf"}));
  // Nothing below it, nor an idea with its own children there.
  c().copyIdeaInside(pair, 0, record(results));
  c().moveIdeaInside(child(1), doc, 0, record(results));
  c().moveIdeaInside(foreign, QString(), 0, record(results));
  c().moveIdeaAfter(pair, doc, 1, record(results));
  c().copyIdeaAfter(foreign, 1, record(results));
  EXPECT_EQ(results, (std::vector<bool>{true, false, false, false, false, false}));
  EXPECT_EQ(order(), (QStringList{"deepest", "leaf"}));
  EXPECT_TRUE(child(0)->ideas().empty());
  EXPECT_EQ(pair->parent(), root);
  ASSERT_EQ(presenter->alerts.size(), 5u);
  for (const auto& alert : presenter->alerts)
    EXPECT_EQ(alert.informativeText, orrery::DocumentLimits::tooDeepMessage());
  EXPECT_TRUE(orrery::DocumentLimits::tooDeepMessage().contains(QStringLiteral("498 levels")));

  // Nor is one typed at the deepest level.
  c().switchToIdea(child(0), /*animated=*/false);
  c().addNewIdeaAfterIndex(-1, idea(QStringLiteral("too deep")), nullptr);
  EXPECT_TRUE(c().realIdea()->ideas().empty());
  EXPECT_EQ(presenter->alerts.size(), 6u);
  c().switchToIdea(shown, /*animated=*/false);
  expectShownAndSaved();
  EXPECT_TRUE(opened.doc->lastUserFriendlyError().isEmpty()) << opened.doc->lastUserFriendlyError().toStdString();
}
