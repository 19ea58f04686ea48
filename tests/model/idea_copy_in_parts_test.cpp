// Copies of trees big enough to be copied in parts on several threads, in shapes that put the
// split in different places: each must be what the one-thread copy makes, idea for idea. And
// parts handed to helpers as they come: each runs once, whoever takes it; finishing waits for a
// part a helper is still running; an owner that goes drops only parts no one has begun.

#include "idea_test_trees.h"
#include "model/concurrent_parts.h"
#include "model/idea.h"
#include "model/idea_snapshot.h"

#include <QHash>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

using namespace orrery;

namespace {

constexpr int kBig = int(Idea::kCopyInPartsAfter) * 2;

std::vector<IdeaPtr> preOrder(const IdeaPtr& top) {
  std::vector<IdeaPtr> ideas;
  top->traverseNaturally([&](const IdeaPtr& idea, qint64) { ideas.push_back(idea); }, 0);
  return ideas;
}

IdeaPtr text(const QString& text, const QString& identifier = {}) {
  return identifier.isEmpty() ? Idea::createWithText(text) : Idea::createWithText(text, identifier);
}

// One long chain, then a bush at its end: the split comes thousands of levels down.
IdeaPtr chainThenBush() {
  IdeaPtr root = text("chain");
  IdeaPtr end = root;
  for (int i = 0; i < kBig / 4; ++i) {
    IdeaPtr next = text(QString::number(i));
    end->addIdea(next);
    end = next;
  }
  for (int i = 0; i < kBig / 8; ++i) {
    IdeaPtr child = text("bush " + QString::number(i));
    end->addIdea(child);
    for (int j = 0; j < 3; ++j) child->addIdea(text("leaf"));
  }
  end->addIdea(Idea::createWithLinkToIdea(root->ideas()[0]->identifier()));
  return root;
}

// A root with thousands of leaves: the split comes inside the first level.
IdeaPtr wideRoot() {
  IdeaPtr root = text("wide");
  for (int i = 0; i < kBig; ++i) root->addIdea(i % 50 == 7 ? Idea::createWithLinkToIdea(root->identifier()) : text(QString::number(i)));
  return root;
}

// An identifier carried twice: deep in the first subtree (first in pre-order) and high in the
// last (first level by level), in different parts; links name it from everywhere.
IdeaPtr repeatedIdentifier() {
  IdeaPtr root = text("repeats");
  constexpr int kBranches = kBig / 55;
  for (int i = 0; i < kBranches; ++i) {
    IdeaPtr branch = text("branch");
    root->addIdea(branch);
    IdeaPtr at = branch;
    for (int level = 0; level < 6; ++level) {
      IdeaPtr next = text("level");
      at->addIdea(next);
      for (int j = 0; j < 8; ++j) at->addIdea(j == 3 ? Idea::createWithLinkToIdea("twice") : text("leaf"));
      at = next;
    }
    if (i == 0) at->addIdea(text("deep first", "twice"));
    if (i == kBranches - 1) branch->addIdea(text("high second", "twice"));
  }
  return root;
}

// The biggest subtree under the root of a random tree, whose links lead in and out of it.
IdeaPtr subtreeWithOutsideLinks() {
  static const IdeaPtr whole = ideatrees::randomTree({kBig * 2, 0.01, 0.03, 5});
  IdeaPtr biggest;
  for (const IdeaPtr& child : whole->ideas())
    if (!biggest || child->calculateWholeTreeSize() > biggest->calculateWholeTreeSize()) biggest = child;
  return biggest;
}

struct Shape {
  const char* name;
  std::function<IdeaPtr()> make;
};

const std::vector<Shape>& shapes() {
  static const std::vector<Shape> all = {
      {"random places, links across parts", [] { return ideatrees::randomTree({kBig, 0.0, 0.05, 3}); }},
      {"notes and pictures shared", [] { return ideatrees::randomTree({kBig, 0.05, 0.05, 4}); }},
      {"deep chain", chainThenBush},
      {"wide root", wideRoot},
      {"repeated identifier", repeatedIdentifier},
      {"links leading out of the subtree", subtreeWithOutsideLinks},
  };
  return all;
}

// Where the link at each pre-order position leads, as a position within the tree (-1 nowhere
// in it): resolved from the tree's root, as the ideas resolve links, by one table.
std::vector<qsizetype> linkTargets(const std::vector<IdeaPtr>& ideas) {
  QHash<QString, qsizetype> first;
  for (size_t i = ideas.size(); i-- > 0;) first.insert(ideas[i]->identifier(), qsizetype(i));
  std::vector<qsizetype> targets(ideas.size(), -1);
  const bool whole = ideas.front()->root() == ideas.front();
  for (size_t i = 0; i < ideas.size(); ++i) {
    if (!ideas[i]->isLink()) continue;
    const qsizetype at = first.value(ideas[i]->linkedIdentifier(), -1);
    if (at >= 0 && !ideas[size_t(at)]->isLink() && (whole || ideas[i]->linkedIdea() == ideas[size_t(at)])) targets[i] = at;
  }
  return targets;
}

// Each link of `copy` leads where the same link of `reference` does; one naming no idea of the
// tree keeps its identifier.
void expectLinksLeadAlike(const IdeaPtr& reference, const IdeaPtr& copy) {
  const std::vector<IdeaPtr> a = preOrder(reference), b = preOrder(copy);
  ASSERT_EQ(a.size(), b.size());
  const std::vector<qsizetype> targetsA = linkTargets(a), targetsB = linkTargets(b);
  QSet<QString> identifiers;
  for (const IdeaPtr& idea : a) identifiers.insert(idea->identifier());
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i]->isLink(), b[i]->isLink()) << i;
    EXPECT_EQ(targetsA[i], targetsB[i]) << i;
    if (a[i]->isLink() && !identifiers.contains(a[i]->linkedIdentifier())) {
      EXPECT_EQ(b[i]->linkedIdentifier(), a[i]->linkedIdentifier()) << i;
    }
  }
}

}  // namespace

TEST(IdeaCopyInParts, EveryShapeCopiesAsOnOneThread) {
  for (const Shape& shape : shapes()) {
    SCOPED_TRACE(shape.name);
    const IdeaPtr source = shape.make();
    ASSERT_GT(source->calculateWholeTreeSize(), qint64(Idea::kCopyInPartsAfter) * 3 / 2);

    const IdeaPtr snapshot = source->snapshotCopy();
    EXPECT_EQ(ideatrees::firstDifference(*source, *snapshot), "");

    // A depth limit below every level keeps the copy on the calling thread.
    const IdeaPtr oneThread = source->ideaByRestrictingDepth(std::numeric_limits<qint64>::max() - 1);
    const IdeaPtr deep = source->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(ideatrees::firstDifference(*oneThread, *deep, /*sameIdentifiers=*/false), "");
    expectLinksLeadAlike(oneThread, deep);
    expectLinksLeadAlike(source, source->deepCopyWithNewIdentifiersPreservingExternalLinks(true));

    QSet<QString> identifiers;
    qsizetype copies = 0;
    for (const IdeaPtr& copy : {snapshot, deep}) {
      for (const IdeaPtr& idea : preOrder(copy)) {
        for (const IdeaPtr& child : idea->ideas()) ASSERT_EQ(child->parent(), idea);
        if (copy == deep) {
          identifiers.insert(idea->identifier());
          ++copies;
        }
      }
    }
    EXPECT_EQ(identifiers.size(), copies) << "a new identifier repeats";

    // The capture lists the live ideas in the copy's pre-order; links show their targets.
    const IdeaSnapshotPtr index = IdeaSnapshot::create(source);
    const std::vector<IdeaPtr> live = preOrder(source);
    ASSERT_EQ(size_t(index->size()), live.size());
    for (size_t i = 0; i < live.size(); ++i) {
      ASSERT_EQ(index->liveIdea(std::int32_t(i)), live[i]) << i;
      // (Links are looked at where they may lead out of the subtree, where the capture resolves them.)
      if (!live[i]->isLink() || (source->parent() && live[i]->linkedIdea())) {
        ASSERT_EQ(index->node(std::int32_t(i)).text, live[i]->text()) << i;
      }
    }
  }
}

namespace {

// A flag one thread raises and another waits for; a wait that gives up says so.
struct RaisedFlag {
  std::mutex mutex;
  std::condition_variable raised;
  bool up = false;
  void raise() {
    std::lock_guard lock(mutex);
    up = true;
    raised.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex);
    return raised.wait_for(lock, std::chrono::seconds(60), [&] { return up; });
  }
};

TEST(PartsAsTheyComeTest, EveryPartRunsOnceAndWhatItWroteIsSeenOnceFinished) {
  for (std::size_t helpers : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
    SCOPED_TRACE(helpers);
    constexpr int kParts = 500;
    // Plain values: the finish is what makes them seen here.
    auto written = std::make_shared<std::vector<int>>(kParts, 0);
    PartsAsTheyCome parts(helpers);
    for (int i = 0; i < kParts; ++i) parts.add([written, i] { (*written)[std::size_t(i)] += i + 1; });
    parts.finish();
    for (int i = 0; i < kParts; ++i) ASSERT_EQ((*written)[std::size_t(i)], i + 1) << "part " << i;
    // Parts added after a finish run too, at the next.
    parts.add([written] { (*written)[0] += 1; });
    parts.finish();
    EXPECT_EQ((*written)[0], 2);
  }
}

TEST(PartsAsTheyComeTest, FinishWaitsForThePartAHelperIsRunning) {
  if (usableCores() < 2) GTEST_SKIP() << "no helper runs on one core";
  auto begun = std::make_shared<RaisedFlag>(), release = std::make_shared<RaisedFlag>();
  auto done = std::make_shared<std::atomic<bool>>(false);
  PartsAsTheyCome parts(1);
  parts.add([begun, release, done] {
    begun->raise();
    release->wait();
    done->store(true);
  });
  ASSERT_TRUE(begun->wait()) << "the helper never began its part";
  // Taken by the finishing thread, while the helper still holds the first.
  parts.add([release] { release->raise(); });
  parts.finish();
  EXPECT_TRUE(done->load()) << "finish returned before the helper's part ended";
}

TEST(PartsAsTheyComeTest, AnOwnerThatGoesDropsOnlyPartsNoOneBegan) {
  auto ran = std::make_shared<std::atomic<int>>(0);
  {
    PartsAsTheyCome parts(0);
    for (int i = 0; i < 10; ++i) parts.add([ran] { ++*ran; });
  }
  EXPECT_EQ(ran->load(), 0) << "parts no one began are dropped";

  if (usableCores() < 2) GTEST_SKIP() << "no helper runs on one core";
  auto begun = std::make_shared<RaisedFlag>(), release = std::make_shared<RaisedFlag>(),
       ended = std::make_shared<RaisedFlag>();
  {
    PartsAsTheyCome parts(1);
    parts.add([begun, release, ended] {
      begun->raise();
      release->wait();
      ended->raise();
    });
    ASSERT_TRUE(begun->wait()) << "the helper never began its part";
    parts.add([ran] { ++*ran; });
  }
  release->raise();
  EXPECT_TRUE(ended->wait()) << "a begun part runs to its end after its owner is gone";
  EXPECT_EQ(ran->load(), 0) << "the part left waiting went with its owner";
}

}  // namespace
