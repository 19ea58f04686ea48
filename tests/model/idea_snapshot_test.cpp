#include "model/idea_snapshot.h"

#include "model/idea.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {

IdeaPtr idea(const QString& id) { return Idea::createWithText(id, id); }

}  // namespace

TEST(IdeaSnapshot, ResolvesLinksToTheirTargetsAndForgetsDeadIdeas) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr a = idea(QStringLiteral("a"));
  a->setNote(QStringLiteral("note of a"));
  root->addIdea(a);
  a->addIdea(idea(QStringLiteral("a1")));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("a")));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("missing")));
  auto snapshot = IdeaSnapshot::create(root);
  ASSERT_EQ(snapshot->size(), 5);
  EXPECT_EQ(snapshot->node(0).subtreeEnd, 5);
  EXPECT_EQ(snapshot->node(1).subtreeEnd, 3) << "a and a1";
  EXPECT_EQ(snapshot->node(2).depth, 2);
  const IdeaSnapshotNode& link = snapshot->node(3);
  EXPECT_EQ(link.targetIndex, 1);
  EXPECT_EQ(link.text, QStringLiteral("a"));
  EXPECT_TRUE(link.hasNote()) << "a link answers for its target";
  EXPECT_EQ(snapshot->node(4).contentType, IdeaTypeUndefined);
  EXPECT_FALSE(snapshot->node(4).hasNote());

  // A link whose target lies outside the snapshotted subtree still shows its target.
  IdeaPtr b = idea(QStringLiteral("b"));
  root->addIdea(b);
  b->addIdea(Idea::createWithLinkToIdea(QStringLiteral("a")));
  auto sub = IdeaSnapshot::create(b);
  EXPECT_EQ(sub->node(1).text, QStringLiteral("a"));
  EXPECT_EQ(sub->node(1).targetIndex, -1);

  // Edits after the snapshot do not reach it; a removed idea no longer answers.
  a->setText(QStringLiteral("changed"));
  EXPECT_EQ(snapshot->node(1).text, QStringLiteral("a"));
  EXPECT_EQ(snapshot->liveIdea(1), a);
  root->removeIdea(QStringLiteral("a"));
  a.reset();
  EXPECT_EQ(snapshot->liveIdea(1), nullptr);
  EXPECT_EQ(IdeaSnapshot::createFromFrozen(root->snapshotCopy())->liveIdea(0), nullptr);
}


TEST(IdeaSnapshot, ACaptureIsTheTreeAtCaptureTimeWhateverChangesBeforeItIsIndexed) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr a = idea(QStringLiteral("a")), b = idea(QStringLiteral("b"));
  root->addIdea(a);
  root->addIdea(b);
  a->addIdea(idea(QStringLiteral("a1")));
  IdeaPtr outside = idea(QStringLiteral("far"));
  root->addIdea(outside);
  b->addIdea(Idea::createWithLinkToIdea(QStringLiteral("far")));
  IdeaSnapshot::Capture whole = IdeaSnapshot::capture(root);
  IdeaSnapshot::Capture sub = IdeaSnapshot::capture(b);
  // The live tree changes shape and content before the snapshots are made.
  root->removeIdea(QStringLiteral("a"));
  b->addIdea(idea(QStringLiteral("late")));
  outside->setText(QStringLiteral("renamed"));
  auto snapshot = IdeaSnapshot::createFromCapture(std::move(whole));
  ASSERT_EQ(snapshot->size(), 6);
  const std::vector<QString> order{QStringLiteral("root"), QStringLiteral("a"), QStringLiteral("a1"), QStringLiteral("b"),
                                   QString(), QStringLiteral("far")};
  for (std::int32_t i = 0; i < snapshot->size(); ++i) {
    const QString& expected = order[static_cast<std::size_t>(i)];
    if (!expected.isNull()) {
      EXPECT_EQ(snapshot->node(i).identifier, expected);
    }
  }
  EXPECT_EQ(snapshot->node(4).targetIndex, 5);
  EXPECT_EQ(snapshot->liveIdea(1), a) << "live ideas line up with the nodes of the capture";
  EXPECT_EQ(snapshot->liveIdea(3), b);
  EXPECT_EQ(snapshot->liveIdea(5), outside);
  auto part = IdeaSnapshot::createFromCapture(std::move(sub));
  ASSERT_EQ(part->size(), 2) << "the idea added later is not there";
  EXPECT_EQ(part->node(1).text, QStringLiteral("far")) << "the outside target as it was at capture time";
  EXPECT_EQ(part->liveIdea(0), b);
}

// Links resolve as the tree does: to the first idea of the identifier in pre-order, wherever
// the link stands.
TEST(IdeaSnapshot, LinksResolveToTheFirstIdeaOfARepeatedIdentifier) {
  IdeaPtr root = idea(QStringLiteral("root"));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("twin")));
  root->addIdea(Idea::createWithText(QStringLiteral("first twin"), QStringLiteral("twin")));
  root->addIdea(Idea::createWithText(QStringLiteral("second twin"), QStringLiteral("twin")));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("twin")));
  auto snapshot = IdeaSnapshot::create(root);
  for (std::int32_t i : {1, 4}) {
    EXPECT_EQ(snapshot->node(i).targetIndex, 2) << i;
    EXPECT_EQ(snapshot->node(i).text, QStringLiteral("first twin")) << i;
    EXPECT_EQ(root->ideas()[static_cast<std::size_t>(i - 1)]->linkedIdea(), root->ideas()[1]) << "as the tree resolves it";
  }
}
