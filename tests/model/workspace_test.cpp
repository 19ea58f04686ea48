#include "model/workspace.h"

#include "model/idea_document.h"

#include "support/memory_workspace.h"

#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

#include "support/proxy_lists.h"

using namespace orrery;
using orrery::testing::MemoryPersistenceState;
using Op = MemoryPersistenceState::Op;

namespace {

using testsupport::proxyFor;
using testsupport::identifiersOf;

class WorkspaceTest : public ::testing::Test, protected orrery::testing::MemoryWorkspace {
 protected:
  // A workspace whose list holds the stored documents, reported as found.
  void startWithDocuments(const QStringList& identifiers) {
    for (const QString& identifier : identifiers) engine->store(identifier, Idea::createWithText("Root of " + identifier));
    engine->reportStoredDocuments();
    main.runPending();
    delegate.events.clear();
  }
  QStringList listed() const { return identifiersOf(workspace->proxyListOrNilIfNotReady().value_or(ProxyList())); }
};

}  // namespace

TEST_F(WorkspaceTest, EngineStatusCodesMapToWorkspaceStatus) {
  EXPECT_EQ(workspace->status(), WorkspaceStatusStarting);
  const std::pair<std::int64_t, WorkspaceStatus> cases[] = {{4, WorkspaceStatusLoading}, {2, WorkspaceStatusUnavailable},
                                                            {3, WorkspaceStatusReady},   {1, WorkspaceStatusUnavailable},
                                                            {5, WorkspaceStatusReady},   {7, WorkspaceStatusReady},
                                                            {0, WorkspaceStatusStarting}};
  QStringList expected;
  for (const auto& [code, status] : cases) {
    engine->reportStatus(code);
    EXPECT_EQ(workspace->status(), status) << code;
    expected << QString("status %1").arg(status);
  }
  // Told every time, an unknown code included.
  EXPECT_EQ(delegate.events, expected);
}

TEST_F(WorkspaceTest, ACompleteListKeepsKnownDocumentsOnceEach) {
  // Before the first complete list nothing is handed out and single reports stay silent.
  engine->reportProxy(proxyFor("iCloud:/early.orrx"));
  engine->reportDeleted("iCloud:/gone.orrx");
  EXPECT_FALSE(workspace->proxyListOrNilIfNotReady());
  EXPECT_TRUE(delegate.events.isEmpty());

  engine->reportFound("iCloud:/a.orrx");
  engine->reportFound("iCloud:/b.orrx");
  auto a = proxyFor("iCloud:/a.orrx", "first a");
  engine->reportProxyList({a, proxyFor("iCloud:/b.orrx"), proxyFor("iCloud:/a.orrx", "second a"),
                           proxyFor("iCloud:/never-seen.orrx"), proxyFor("iCloud:/early.orrx")});
  EXPECT_EQ(listed(), (QStringList{"iCloud:/a.orrx", "iCloud:/b.orrx", "iCloud:/early.orrx"}));
  EXPECT_EQ(workspace->findProxy("iCloud:/a.orrx"), a);
  EXPECT_EQ(delegate.events.first(), "batchDone");

  // A later list: listed documents stay, the found ones are forgotten after each list.
  engine->reportProxyList({proxyFor("iCloud:/b.orrx"), proxyFor("iCloud:/a.orrx"), proxyFor("iCloud:/c.orrx")});
  EXPECT_EQ(listed(), (QStringList{"iCloud:/b.orrx", "iCloud:/a.orrx"}));
  engine->reportFound("iCloud:/c.orrx");
  engine->reportProxyList({proxyFor("iCloud:/c.orrx")});
  EXPECT_EQ(listed(), QStringList{"iCloud:/c.orrx"});

  // Duplicates of listed and of found documents, and a listed one found again: the first of each.
  engine->reportFound("iCloud:/c.orrx");
  engine->reportFound("iCloud:/d.orrx");
  auto c = proxyFor("iCloud:/c.orrx", "first c");
  auto d = proxyFor("iCloud:/d.orrx", "first d");
  engine->reportProxyList({d, c, proxyFor("iCloud:/d.orrx", "second d"), proxyFor("iCloud:/c.orrx", "second c")});
  EXPECT_EQ(listed(), (QStringList{"iCloud:/d.orrx", "iCloud:/c.orrx"}));
  EXPECT_EQ(workspace->findProxy("iCloud:/c.orrx"), c);
  EXPECT_EQ(workspace->findProxy("iCloud:/d.orrx"), d);
}

TEST_F(WorkspaceTest, SingleReportsAfterTheListAreRelayedAsCopies) {
  startWithDocuments({"iCloud:/a.orrx", "iCloud:/b.orrx"});
  auto changed = proxyFor("iCloud:/a.orrx", "changed");
  engine->reportProxy(changed);
  engine->reportProxy(proxyFor("iCloud:/c.orrx"));
  engine->reportDeleted("iCloud:/b.orrx");
  EXPECT_EQ(listed(), (QStringList{"iCloud:/a.orrx", "iCloud:/c.orrx"}));
  EXPECT_EQ(workspace->findProxy("iCloud:/a.orrx"), changed);
  EXPECT_EQ(delegate.events,
            (QStringList{"updated iCloud:/a.orrx", "appended iCloud:/c.orrx", "deleted iCloud:/b.orrx"}));
  EXPECT_NE(delegate.lastProxy, workspace->findProxy("iCloud:/c.orrx"));
  // Engine reports neither store the list nor touch the search index.
  EXPECT_TRUE(engine->savedLists().empty());
}

TEST_F(WorkspaceTest, EntriesTheEngineReplacesKeepTheirOpenDocumentObject) {
  startWithDocuments({"iCloud:/a.orrx", "iCloud:/b.orrx"});
  const auto open = workspace->findDocument("iCloud:/a.orrx");
  ASSERT_TRUE(open);
  engine->reportProxy(proxyFor("iCloud:/a.orrx", "changed"));
  EXPECT_EQ(workspace->findDocument("iCloud:/a.orrx"), open);
  engine->reportProxyList({proxyFor("iCloud:/b.orrx"), proxyFor("iCloud:/a.orrx", "again")});
  EXPECT_EQ(workspace->findDocument("iCloud:/a.orrx"), open);
  EXPECT_EQ(workspace->findProxy("iCloud:/a.orrx")->text(), "again");

  // Replaced entries are let go on later turns, none kept.
  auto c = proxyFor("iCloud:/c.orrx");
  const std::weak_ptr<IdeaProxy> replaced = c;
  engine->reportFound("iCloud:/c.orrx");
  engine->reportProxyList({std::exchange(c, nullptr)});
  engine->reportProxyList({proxyFor("iCloud:/c.orrx", "later")});
  EXPECT_EQ(workspace->findProxy("iCloud:/c.orrx")->text(), "later");
  main.runPending();
  EXPECT_TRUE(replaced.expired());
}

TEST_F(WorkspaceTest, ReportsAfterCloseOrFromAnotherEngineChangeNothing) {
  startWithDocuments({"iCloud:/a.orrx"});
  auto stranger = std::make_shared<MemoryPersistenceState>();
  workspace->observeProxyList({proxyFor("iCloud:/x.orrx")}, stranger.get());
  workspace->statusChange(3, stranger.get());

  PersistenceState* old = engine.get();
  workspace->closeWorkspace();
  EXPECT_TRUE(engine->hasLeft());
  EXPECT_FALSE(workspace->currentState());
  workspace->foundIdeaDocument("iCloud:/late.orrx", old);
  workspace->observeProxyList({proxyFor("iCloud:/late.orrx")}, old);
  workspace->observeIdeaProxy(proxyFor("iCloud:/late2.orrx"), old);
  workspace->ideaDocumentDeleted("iCloud:/a.orrx", old);
  workspace->statusChange(1, old);
  EXPECT_EQ(listed(), QStringList{"iCloud:/a.orrx"});
  EXPECT_EQ(workspace->status(), WorkspaceStatusStarting);
  EXPECT_TRUE(delegate.events.isEmpty());

  // Requests of a closed workspace fail at once.
  std::optional<DocumentToken> token;
  workspace->openDocument(workspace->findDocument("iCloud:/a.orrx"), [&](DocumentToken t) { token = t; });
  EXPECT_EQ(token, 0);
}

TEST_F(WorkspaceTest, CreatesInsertAtTheIndexClampedWhenTheListShrankMeanwhile) {
  startWithDocuments({"iCloud:/a.orrx", "iCloud:/b.orrx", "iCloud:/c.orrx"});
  auto newDoc = [](const QString& name) {
    auto doc = IdeaDocument::createWithFileName(name, DocumentLocationICloud);
    doc->setIdea(Idea::createWithText(name));
    return doc;
  };
  std::optional<DocumentToken> token;
  workspace->createDocument(newDoc("end.orrx"), 3, [&](DocumentToken t) { token = t; });
  main.runPending();
  EXPECT_GE(token.value_or(0), 1);
  EXPECT_EQ(listed().last(), "iCloud:/end.orrx");
  EXPECT_EQ(delegate.events, QStringList{"added iCloud:/end.orrx at 3"});
  EXPECT_EQ(identifiersOf(engine->savedLists().back()), listed());

  // The engine answers after the list lost three entries.
  delegate.events.clear();
  engine->holdAnswers(true);
  token.reset();
  workspace->createDocument(newDoc("late.orrx"), 3, [&](DocumentToken t) { token = t; });
  engine->reportDeleted("iCloud:/a.orrx");
  engine->reportDeleted("iCloud:/b.orrx");
  engine->reportDeleted("iCloud:/c.orrx");
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_GE(token.value_or(0), 1);
  EXPECT_EQ(listed(), (QStringList{"iCloud:/end.orrx", "iCloud:/late.orrx"}));
  EXPECT_EQ(delegate.events.last(), "added iCloud:/late.orrx at 1");
}

TEST_F(WorkspaceTest, ACreateOfAListedOrFailingDocumentLeavesTheListAlone) {
  startWithDocuments({"iCloud:/a.orrx"});
  std::optional<DocumentToken> token;
  workspace->createDocument(IdeaDocument::createWithIdentifier("iCloud:/a.orrx"), 0, [&](DocumentToken t) { token = t; });
  EXPECT_EQ(token, 0);
  EXPECT_EQ(engine->calls(Op::Create), 0);

  engine->failNext(Op::Create);
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationICloud);
  doc->setIdea(Idea::createWithText("new"));
  token.reset();
  workspace->createDocument(doc, 0, [&](DocumentToken t) { token = t; });
  main.runPending();
  EXPECT_EQ(token, 0);
  EXPECT_EQ(listed(), QStringList{"iCloud:/a.orrx"});
  EXPECT_TRUE(engine->savedLists().empty());
  EXPECT_TRUE(delegate.events.isEmpty());
}

TEST_F(WorkspaceTest, ACreateTheEngineReportedFirstKeepsOneEntry) {
  startWithDocuments({"iCloud:/a.orrx"});
  auto doc = IdeaDocument::createWithFileName("fresh.orrx", DocumentLocationICloud);
  doc->setIdea(Idea::createWithText("fresh"));
  engine->holdAnswers(true);
  workspace->createDocument(doc, 0, nullptr);
  engine->reportProxy(proxyFor("iCloud:/fresh.orrx"));
  engine->releaseHeldAnswers();
  main.runPending();
  EXPECT_EQ(listed(), (QStringList{"iCloud:/a.orrx", "iCloud:/fresh.orrx"}));
  EXPECT_EQ(delegate.events, (QStringList{"appended iCloud:/fresh.orrx", "updated iCloud:/fresh.orrx"}));
}

TEST_F(WorkspaceTest, SavesRefreshTheProxyAndDeletesDropIt) {
  startWithDocuments({"iCloud:/a.orrx", "iCloud:/b.orrx"});
  auto doc = workspace->findDocument("iCloud:/a.orrx");
  ASSERT_TRUE(doc);
  EXPECT_TRUE(workspace->documentKnown("iCloud:/a.orrx"));
  DocumentToken token = 0;
  workspace->openDocument(doc, [&](DocumentToken t) { token = t; });
  main.runPending();
  ASSERT_GE(token, 1);

  doc->idea()->setText("Renamed");
  doc->idea()->addIdea(Idea::createWithText("child"));
  std::optional<bool> saved;
  workspace->updateDocument(doc, token, [&](bool ok) { saved = ok; });
  main.runPending();
  EXPECT_EQ(saved, true);
  const auto proxy = workspace->findProxy("iCloud:/a.orrx");
  EXPECT_EQ(proxy->text(), "Renamed");
  EXPECT_EQ(proxy->itemCount(), 2);
  EXPECT_EQ(delegate.lastProxy, proxy);
  EXPECT_EQ(delegate.events.last(), "updated iCloud:/a.orrx");
  ASSERT_TRUE(workspace->searchCache().isIndexed("iCloud:/a.orrx"));
  EXPECT_EQ(workspace->searchCache().mapForDocument("iCloud:/a.orrx")->keys(), (QStringList{"renamed", "child"}));
  EXPECT_EQ(identifiersOf(engine->savedLists().back()), listed());

  // A failed save changes nothing.
  const std::size_t lists = engine->savedLists().size();
  engine->failNext(Op::Update);
  doc->idea()->setText("Lost");
  workspace->updateDocument(doc, token, [&](bool ok) { saved = ok; });
  main.runPending();
  EXPECT_EQ(saved, false);
  EXPECT_EQ(proxy->text(), "Renamed");
  EXPECT_EQ(engine->savedLists().size(), lists);

  engine->failNext(Op::Delete);
  workspace->deleteDocument("iCloud:/a.orrx", [&](bool ok) { saved = ok; });
  main.runPending();
  EXPECT_EQ(saved, false);
  EXPECT_EQ(listed().size(), 2);

  workspace->deleteDocument("iCloud:/a.orrx", [&](bool ok) { saved = ok; });
  main.runPending();
  EXPECT_EQ(saved, true);
  EXPECT_EQ(listed(), QStringList{"iCloud:/b.orrx"});
  EXPECT_EQ(delegate.events.last(), "deleted iCloud:/a.orrx");
  EXPECT_FALSE(workspace->searchCache().isIndexed("iCloud:/a.orrx"));
  EXPECT_EQ(identifiersOf(engine->savedLists().back()), listed());
}

TEST_F(WorkspaceTest, ConflictCallsReachOnlyAnEngineThatSettlesConflicts) {
  auto proxy = proxyFor("dropbox:/a.orrx");
  std::optional<bool> handled;
  EXPECT_FALSE(workspace->findConflictingVersion(proxy));
  workspace->handleConflictForProxy(proxy, [&](bool ok, auto&&) { handled = ok; });
  EXPECT_EQ(handled, false);

  auto cloud = std::make_shared<orrery::testing::ConflictResolvingMemoryState>();
  auto icloud = Workspace::create(cloud, &delegate);
  icloud->findConflictingVersion(proxy);
  icloud->handleConflictForProxy(proxy, [&](bool ok, auto&&) { handled = ok; });
  EXPECT_EQ(handled, true);
  EXPECT_EQ(cloud->conflictCalls, 2);
  EXPECT_TRUE(icloud->description().contains("storage=MemoryPersistenceState"));
}
