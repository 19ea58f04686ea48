#include "model/search_cache.h"
#include "model/workspace.h"

#include "model/idea_document.h"

#include "support/memory_workspace.h"

#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

using namespace orrery;
using orrery::testing::MemoryPersistenceState;
using Op = MemoryPersistenceState::Op;

namespace {

IdeaPtr tree(const QString& rootText, const QStringList& children) {
  IdeaPtr root = Idea::createWithText(rootText);
  for (const QString& text : children) root->addIdea(Idea::createWithText(text));
  return root;
}

class SearchTest : public ::testing::Test, protected orrery::testing::MemoryWorkspace {
 protected:
  SearchTest() {
    // "garden" three times in a; twice in b (a text and a link to it) and c; only in a note in e.
    engine->store("iCloud:/a.orrx", tree("Garden", {"Garden tools", "garden party gardening", "Kitchen"}));
    IdeaPtr b = tree("Trip", {"GARDEN route"});
    b->addIdea(Idea::createWithLinkToIdea(b->ideas()[0]->identifier()));
    engine->store("iCloud:/b.orrx", b);
    engine->store("iCloud:/c.orrx", tree("Two gardens", {"A garden"}));
    IdeaPtr d = tree("Plants", {});
    d->setIconImage(std::make_shared<IconImage>("seedling", "nature", "🌱"));
    engine->store("iCloud:/d.orrx", d);
    IdeaPtr e = tree("Notes", {});
    e->setNote("garden");
    engine->store("iCloud:/e.orrx", e);
  }

  // Reports the stored documents and lets the indexing pass finish.
  void listAndIndex() {
    engine->reportStoredDocuments();
    main.runPending();
  }
};

}  // namespace

TEST(SearchCache, CountsMatchingEntriesAndOrdersByHitsThenIdentifier) {
  SearchCache cache;
  cache.addOrUpdate(tree("Apple", {"apple pie", "Pear"}), "iCloud:/x.orrx");
  cache.addOrUpdate(tree("Apple", {"Pear"}), "iCloud:/z.orrx");
  cache.addOrUpdate(tree("apple", {"pear"}), "iCloud:/y.orrx");
  cache.addOrUpdate(nullptr, "iCloud:/unreadable.orrx");
  EXPECT_TRUE(cache.isIndexed("iCloud:/unreadable.orrx"));

  QStringList order;
  for (const auto& result : cache.search("APPLE")) order << QString("%1:%2").arg(result.docIdentifier).arg(result.occurrences);
  EXPECT_EQ(order, (QStringList{"iCloud:/x.orrx:2", "iCloud:/z.orrx:1", "iCloud:/y.orrx:1"}));
  EXPECT_TRUE(cache.search("").empty());
  EXPECT_EQ(cache.mapForDocument("iCloud:/x.orrx")->levels(), (std::vector<std::int32_t>{0, 1, 1}));

  cache.invalidate("iCloud:/x.orrx");
  EXPECT_EQ(cache.search("apple").size(), 2u);
}

TEST_F(SearchTest, FindsTextsIconsAndLinkTargetsIgnoringCase) {
  listAndIndex();
  workspace->startSearch("GARDEN", 100);
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(100), (QStringList{"iCloud:/a.orrx:3", "iCloud:/c.orrx:2", "iCloud:/b.orrx:2"}));
  // Results are copies: the listed proxies keep their idea counts.
  EXPECT_EQ(workspace->findProxy("iCloud:/a.orrx")->itemCount(), 4);

  workspace->startSearch("🌱", 101);
  workspace->startSearch("", 102);
  workspace->startSearch(QString(), 103);
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(101), QStringList{"iCloud:/d.orrx:1"});
  EXPECT_TRUE(delegate.reported(102));
  EXPECT_TRUE(delegate.resultsOf(102).isEmpty());
  // No text: the list itself, in list order.
  ASSERT_TRUE(delegate.reported(103));
  EXPECT_EQ(*delegate.reportOf(103), workspace->proxyListOrNilIfNotReady().value());
}

TEST_F(SearchTest, IndexesOneDocumentAtATimeAndOnlyOnce) {
  engine->holdAnswers(true);
  engine->reportStoredDocuments();
  int fetched = 0;
  while (engine->heldAnswerCount() > 0) {
    EXPECT_EQ(engine->heldAnswerCount(), 1u);
    engine->releaseHeldAnswers();
    main.runPending();
    ++fetched;
  }
  EXPECT_EQ(fetched, 5);
  ASSERT_EQ(delegate.searches.size(), 1u);
  EXPECT_EQ(delegate.searches.front().second.size(), 5u);

  engine->holdAnswers(false);
  workspace->startSearch("garden", 200);
  main.runPending();
  EXPECT_EQ(engine->calls(Op::Fetch), 5);
  EXPECT_EQ(delegate.resultsOf(200).size(), 3u);

  // A change the engine reports by itself leaves the index as it was.
  auto renamed = std::make_shared<IdeaProxy>(*workspace->findProxy("iCloud:/d.orrx"));
  renamed->setText("Garden plants");
  engine->reportProxy(renamed);
  engine->reportDeleted("iCloud:/a.orrx");
  workspace->startSearch("garden", 201);
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(201), (QStringList{"iCloud:/c.orrx:2", "iCloud:/b.orrx:2"}));
  EXPECT_EQ(engine->calls(Op::Fetch), 5);
}

TEST_F(SearchTest, AnUnreadableDocumentIsNotReadAgain) {
  engine->failNext(Op::Fetch);
  listAndIndex();
  EXPECT_EQ(engine->calls(Op::Fetch), 5);
  workspace->startSearch("garden", 300);
  main.runPending();
  EXPECT_EQ(engine->calls(Op::Fetch), 5);
  // The first listed document (a) could not be read.
  EXPECT_EQ(delegate.resultsOf(300), (QStringList{"iCloud:/c.orrx:2", "iCloud:/b.orrx:2"}));
}

TEST_F(SearchTest, ASearchWaitsForTheListInHalfSecondSteps) {
  workspace->startSearch("garden", 400);
  main.runPending();
  main.advance(0.4);
  main.advance(0.5);
  EXPECT_EQ(engine->calls(Op::Fetch), 0);

  // The list arrives; its indexing pass waits for the screen's search.
  engine->reportStoredDocuments();
  main.runPending();
  EXPECT_EQ(engine->calls(Op::Fetch), 0);
  EXPECT_TRUE(delegate.searches.empty());
  main.advance(0.1);
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(400).size(), 3u);
  ASSERT_EQ(delegate.searches.size(), 2u);
  EXPECT_EQ(delegate.events.filter("search").first(), "search 400");
  EXPECT_EQ(engine->calls(Op::Fetch), 5);
}

TEST_F(SearchTest, NewerRequestsReplaceOlderOnesWhichNeverReport) {
  // Far from the numbers of the indexing passes, which count on their own.
  const std::int64_t kBase = 1'000'000;
  engine->holdAnswers(true);
  engine->reportStoredDocuments();  // the indexing pass waits for its first document
  workspace->startSearch("garden", kBase + 7);
  const std::size_t held = engine->heldAnswerCount();
  workspace->startSearch("garden", kBase + 5);
  EXPECT_EQ(engine->heldAnswerCount(), held);
  workspace->startSearch("garden", kBase + 8);
  workspace->killSearch(kBase + 7);
  engine->holdAnswers(false);
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_FALSE(delegate.reported(kBase + 7));
  EXPECT_FALSE(delegate.reported(kBase + 5));
  EXPECT_EQ(delegate.resultsOf(kBase + 8).size(), 3u);
  // The indexing pass the screen search replaced runs again afterwards.
  const QStringList reports = delegate.events.filter("search");
  ASSERT_EQ(reports.size(), 2);
  EXPECT_EQ(reports.first(), QString("search %1").arg(kBase + 8));
  EXPECT_EQ(delegate.searches.back().second.size(), 5u);
}

TEST_F(SearchTest, AScreenSearchIsAnsweredWhateverTheIndexingPassIsNumbered) {
  engine->holdAnswers(true);
  engine->reportStoredDocuments();
  // A screen search started while an indexing pass waits is answered, and not as the pass.
  const std::int64_t first = WorkspaceSearch::nextRequestIdentifier();
  workspace->startSearch("kitchen", first);
  engine->holdAnswers(false);
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(first), QStringList{"iCloud:/a.orrx:1"});
  EXPECT_EQ(delegate.events.filter("search").size(), 2);

  // A new complete list while a screen search runs does not cut it off either.
  engine->holdAnswers(true);
  const std::int64_t second = WorkspaceSearch::nextRequestIdentifier();
  workspace->startSearch("garden", second);
  engine->reportStoredDocuments();
  engine->holdAnswers(false);
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_EQ(delegate.resultsOf(second).size(), 3u);
}

TEST_F(SearchTest, KillingStopsOnlyTheRunningRequest) {
  const std::int64_t kBase = 2'000'000;
  engine->holdAnswers(true);
  engine->reportStoredDocuments();
  workspace->startSearch("garden", kBase + 9);
  workspace->killSearch(kBase + 3);
  EXPECT_EQ(workspace->findMatchingProxies(QString()).size(), 5u);
  workspace->killSearch(kBase + 9);
  engine->holdAnswers(false);
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_FALSE(delegate.reported(kBase + 9));
  // The indexing pass went on once the killed search was gone.
  EXPECT_EQ(delegate.events.filter("search").size(), 1);
  EXPECT_EQ(workspace->findMatchingProxies("garden").size(), 3u);

  // Closing the workspace stops a search without a report.
  engine->store("iCloud:/f.orrx", tree("Fresh", {}));
  engine->reportProxy(IdeaProxy::createWithDoc(engine->read("iCloud:/f.orrx")));
  engine->holdAnswers(true);
  workspace->startSearch("zzz", kBase + 10);
  EXPECT_EQ(engine->heldAnswerCount(), 1u);
  workspace->closeWorkspace();
  main.advance(1.0);
  EXPECT_FALSE(delegate.reported(kBase + 10));
}
