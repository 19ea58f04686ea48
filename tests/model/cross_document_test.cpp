#include "model/cross_document_operations.h"

#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"

#include "foundation/globals.h"

#include "support/memory_persistence_state.h"
#include "support/virtual_main_queue.h"

#include "../foundation/log_capture.h"
#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

using namespace orrery;
using orrery::testing::MemoryPersistenceState;
using orrery::testing::VirtualMainQueue;
using Op = MemoryPersistenceState::Op;

namespace {


class Listener final : public PersistenceControllerListener {
 public:
  void documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) override {
    events << QString("added %1 at %2").arg(proxy->docIdentifier()).arg(index);
  }
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) override { events << "updated " + proxy->docIdentifier(); }
  void documentDeleted(const QString& docIdentifier) override { events << "deleted " + docIdentifier; }
  QStringList events;
};

// The texts of a tree, depth first, children in brackets.
std::string shape(const IdeaPtr& idea) {
  if (!idea) return "none";
  std::string out = idea->text().toStdString();
  if (idea->ideas().empty()) return out;
  out += "[";
  for (std::size_t i = 0; i < idea->ideas().size(); ++i) out += (i ? "," : "") + shape(idea->ideas()[i]);
  return out + "]";
}

class CrossDocumentTest : public ::testing::Test {
 protected:
  CrossDocumentTest() {
    // Source: a plan with a subtree and a link that leads out of it.
    IdeaPtr plan = Idea::createWithText("Plan");
    IdeaPtr tasks = Idea::createWithText("Tasks");
    IdeaPtr shop = Idea::createWithText("Shop");
    IdeaPtr budget = Idea::createWithText("Budget");
    plan->addIdea(tasks);
    plan->addIdea(Idea::createWithText("Notes"));
    plan->addIdea(budget);
    tasks->addIdea(shop);
    tasks->addIdea(Idea::createWithLinkToIdea(budget->identifier()));
    mTasksIdentifier = tasks->identifier();
    mShopIdentifier = shop->identifier();
    icloud->store("iCloud:/plan.orrx", plan);
    icloud->store("iCloud:/other.orrx", Idea::createWithText("Other"));
    dropbox->store("dropbox:/box.orrx", Idea::createWithText("Box"));

    PersistenceController::singleton().setWorkspaceFactory(Workspace::factoryWithEngines(
        [this](DocumentLocation location) -> std::shared_ptr<PersistenceState> {
          return location == DocumentLocationICloud ? std::shared_ptr<PersistenceState>(icloud) : dropbox;
        }));
    Globals::optForICloud(true);
    Globals::optForDropbox(true);
    icloud->reportStoredDocuments();
    dropbox->reportStoredDocuments();
    main.runPending();
    PersistenceController::singleton().addListener(listener);
  }
  ~CrossDocumentTest() override {
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    PersistenceController::singleton().setWorkspaceFactory({});
  }

  // Runs an operation to its completion.
  bool run(const std::function<void(CrossDocumentOperations::BoolCompletion)>& operation) {
    std::optional<bool> result;
    int calls = 0;
    operation([&](bool ok) {
      result = ok;
      ++calls;
    });
    EXPECT_TRUE(main.runUntil([&] { return result.has_value(); }));
    main.runPending();
    EXPECT_EQ(calls, 1);
    return result.value_or(false);
  }
  IdeaPtr fetch(const QString& ideaIdentifier, const QString& docIdentifier) {
    std::optional<IdeaPtr> idea;
    ops.fetchIdea(ideaIdentifier, docIdentifier, [&](IdeaPtr i) { idea = i; });
    EXPECT_TRUE(main.runUntil([&] { return idea.has_value(); }));
    return idea.value_or(nullptr);
  }
  QStringList listed(DocumentLocation location) {
    QStringList out;
    for (const auto& proxy : PersistenceController::singleton().proxyListForLocation(location).value_or(ProxyList())) out << proxy->docIdentifier();
    return out;
  }

  VirtualMainQueue main;
  std::shared_ptr<MemoryPersistenceState> icloud = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<MemoryPersistenceState> dropbox = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<Listener> listener = std::make_shared<Listener>();
  PersistenceController& ops = PersistenceController::singleton();
  QString mTasksIdentifier;
  QString mShopIdentifier;
};

}  // namespace

TEST_F(CrossDocumentTest, FetchReadsTheFileApartFromTheOpenDocument) {
  EXPECT_EQ(shape(fetch(QString(), "iCloud:/plan.orrx")), "Plan[Tasks[Shop,Budget],Notes,Budget]");
  EXPECT_EQ(shape(fetch(mShopIdentifier, "iCloud:/plan.orrx")), "Shop");
  EXPECT_EQ(fetch("id0_0", "iCloud:/plan.orrx"), nullptr);
  EXPECT_EQ(fetch(QString(), "iCloud:/missing.orrx"), nullptr);
  EXPECT_NE(fetch(QString(), "iCloud:/plan.orrx"), PersistenceController::singleton().findDocument("iCloud:/plan.orrx")->idea());
}

TEST_F(CrossDocumentTest, CopiesCarryNewIdentifiersAndNoLinksLeavingThem) {
  IdeaPtr received;
  EXPECT_TRUE(run([&](auto done) {
    ops.copyIdea(mTasksIdentifier, "iCloud:/plan.orrx", [&](const IdeaPtr& idea, auto placed) {
      received = idea;
      placed(true);
    }, done);
  }));
  ASSERT_TRUE(received);
  EXPECT_NE(received->identifier(), mTasksIdentifier);
  EXPECT_EQ(shape(received), "Tasks[Shop,Budget]");
  EXPECT_FALSE(received->ideas()[1]->isLink());

  bool stepRan = false;
  EXPECT_FALSE(run([&](auto done) {
    ops.copyIdea("id0_0", "iCloud:/plan.orrx", [&](const IdeaPtr&, auto placed) {
      stepRan = true;
      placed(true);
    }, done);
  }));
  EXPECT_FALSE(stepRan);
}

TEST_F(CrossDocumentTest, ACopyBecomesANewDocumentAtThePosition) {
  // Only the fetched idea is held: its link to "Budget" outside it must still resolve.
  IdeaPtr tasks = fetch(mTasksIdentifier, "iCloud:/plan.orrx");
  EXPECT_TRUE(run([&](auto done) { ops.copyIdeaBefore(tasks, 1, DocumentLocationICloud, done); }));
  const QStringList list = listed(DocumentLocationICloud);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(listener->events, QStringList{QString("added %1 at 1").arg(list[1])});
  EXPECT_EQ(shape(icloud->storedIdea(list[1])), "Tasks[Shop,Budget]");
  EXPECT_EQ(icloud->heldTokens(list[1]), 0u);

  EXPECT_TRUE(run([&](auto done) { ops.copyIdeaBefore(tasks, 3, DocumentLocationICloud, done); }));
  EXPECT_EQ(listed(DocumentLocationICloud).size(), 4);
  EXPECT_EQ(shape(icloud->storedIdea(listed(DocumentLocationICloud).last())), "Tasks[Shop,Budget]");
}

TEST_F(CrossDocumentTest, ACopyInsideBecomesTheFirstChildOfAListedDocument) {
  IdeaPtr shop = fetch(mShopIdentifier, "iCloud:/plan.orrx");
  const QStringList list = listed(DocumentLocationICloud);
  const int other = list.indexOf("iCloud:/other.orrx");
  EXPECT_TRUE(run([&](auto done) { ops.copyIdeaInside(shop, other, DocumentLocationICloud, done); }));
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/other.orrx")), "Other[Shop]");
  EXPECT_EQ(icloud->heldTokens("iCloud:/other.orrx"), 0u);
  EXPECT_EQ(listener->events, QStringList{"updated iCloud:/other.orrx"});

  EXPECT_FALSE(run([&](auto done) { ops.copyIdeaInside(shop, list.size(), DocumentLocationICloud, done); }));
  EXPECT_FALSE(run([&](auto done) { ops.copyIdeaInside(shop, 0, DocumentLocationTemp, done); }));
  // Nor goes in what would take the map deeper than a map holds; the log names the idea by its
  // identifier, not by what the user typed.
  IdeaPtr deep = Idea::createWithText("Deep");
  IdeaPtr bottom = deep;
  for (int level = 2; level <= DocumentLimits::kMaxDepth; ++level) {
    bottom->addIdea(Idea::createWithText("Deeper"));
    bottom = bottom->ideas().back();
  }
  LogCapture log;
  EXPECT_FALSE(run([&](auto done) { ops.copyIdeaInside(deep, other, DocumentLocationICloud, done); }));
  EXPECT_EQ(log.lines().join('\n'), "iCloud:/other.orrx: no room for the copy of idea " + deep->identifier());
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/other.orrx")), "Other[Shop]");
  EXPECT_EQ(icloud->heldTokens("iCloud:/other.orrx"), 0u);
  EXPECT_EQ(listener->events.size(), 1);
}

TEST_F(CrossDocumentTest, DeletesRemoveIdeasOrWholeDocumentsAndHoldNoToken) {
  EXPECT_TRUE(run([&](auto done) { ops.deleteIdea(mShopIdentifier, "iCloud:/plan.orrx", done); }));
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Tasks[Budget],Notes,Budget]");
  EXPECT_EQ(icloud->heldTokens("iCloud:/plan.orrx"), 0u);

  // Gone already: looked up again, not found, nothing held.
  EXPECT_FALSE(run([&](auto done) { ops.deleteIdea(mShopIdentifier, "iCloud:/plan.orrx", done); }));
  EXPECT_EQ(icloud->heldTokens("iCloud:/plan.orrx"), 0u);

  const QString root = fetch(QString(), "iCloud:/plan.orrx")->identifier();
  EXPECT_TRUE(run([&](auto done) { ops.deleteIdea(root, "iCloud:/plan.orrx", done); }));
  EXPECT_FALSE(icloud->hasStored("iCloud:/plan.orrx"));
  EXPECT_TRUE(run([&](auto done) { ops.deleteIdea(QString(), "iCloud:/other.orrx", done); }));
  EXPECT_TRUE(listed(DocumentLocationICloud).isEmpty());
  EXPECT_TRUE(listener->events.contains("deleted iCloud:/plan.orrx"));
  EXPECT_TRUE(listener->events.contains("deleted iCloud:/other.orrx"));
}

TEST_F(CrossDocumentTest, AMoveCopiesFirstAndRemovesFromTheSourceLast) {
  EXPECT_TRUE(run([&](auto done) {
    ops.moveIdeaInside(mTasksIdentifier, "iCloud:/plan.orrx", 0, DocumentLocationDropbox, done);
  }));
  EXPECT_EQ(shape(dropbox->storedIdea("dropbox:/box.orrx")), "Box[Tasks[Shop,Budget]]");
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Notes,Budget]");

  EXPECT_TRUE(run([&](auto done) {
    ops.moveIdeaBefore(QString(), "dropbox:/box.orrx", 0, DocumentLocationICloud, done);
  }));
  EXPECT_FALSE(dropbox->hasStored("dropbox:/box.orrx"));
  EXPECT_EQ(shape(icloud->storedIdea(listed(DocumentLocationICloud).first())), "Box[Tasks[Shop,Budget]]");
}

TEST_F(CrossDocumentTest, ARootIsNotMovedInsideItsOwnDocument) {
  ASSERT_EQ(listed(DocumentLocationICloud), (QStringList{"iCloud:/other.orrx", "iCloud:/plan.orrx"}));
  // Otherwise the copy would go into the document that is then deleted as the root's source.
  EXPECT_FALSE(run([&](auto done) { ops.moveIdeaInside(QString(), "iCloud:/plan.orrx", 1, DocumentLocationICloud, done); }));
  const QString rootIdentifier = fetch(QString(), "iCloud:/plan.orrx")->identifier();
  EXPECT_FALSE(run([&](auto done) { ops.moveIdeaInside(rootIdentifier, "iCloud:/plan.orrx", 1, DocumentLocationICloud, done); }));
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Tasks[Shop,Budget],Notes,Budget]");
  EXPECT_EQ(icloud->heldTokens("iCloud:/plan.orrx"), 0u);

  // An idea below the root moves up to the root's first child.
  EXPECT_TRUE(run([&](auto done) { ops.moveIdeaInside(mShopIdentifier, "iCloud:/plan.orrx", 1, DocumentLocationICloud, done); }));
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Shop,Tasks[Budget],Notes,Budget]");
}

TEST_F(CrossDocumentTest, AFailureInTheMiddleLeavesTheIdeaInBothNeverInNone) {
  // The target cannot be written: the source stays as it was.
  dropbox->failNext(Op::Update);
  EXPECT_FALSE(run([&](auto done) {
    ops.moveIdeaInside(mShopIdentifier, "iCloud:/plan.orrx", 0, DocumentLocationDropbox, done);
  }));
  EXPECT_EQ(shape(dropbox->storedIdea("dropbox:/box.orrx")), "Box");
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Tasks[Shop,Budget],Notes,Budget]");
  EXPECT_EQ(icloud->calls(Op::Open), 0);
  // The tree of the shared target object did change, and the screens were told.
  EXPECT_EQ(listener->events, QStringList{"updated dropbox:/box.orrx"});

  // The new document cannot be made: nothing moves.
  dropbox->failNext(Op::Create);
  EXPECT_FALSE(run([&](auto done) {
    ops.moveIdeaBefore(mShopIdentifier, "iCloud:/plan.orrx", 0, DocumentLocationDropbox, done);
  }));
  EXPECT_EQ(listed(DocumentLocationDropbox).size(), 1);
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Tasks[Shop,Budget],Notes,Budget]");

  // The copy arrived but the source cannot be written: the idea is in both.
  icloud->failNext(Op::Update);
  EXPECT_FALSE(run([&](auto done) {
    ops.moveIdeaBefore(mShopIdentifier, "iCloud:/plan.orrx", 1, DocumentLocationDropbox, done);
  }));
  ASSERT_EQ(listed(DocumentLocationDropbox).size(), 2);
  EXPECT_EQ(shape(dropbox->storedIdea(listed(DocumentLocationDropbox)[1])), "Shop");
  EXPECT_EQ(shape(icloud->storedIdea("iCloud:/plan.orrx")), "Plan[Tasks[Shop,Budget],Notes,Budget]");
  EXPECT_EQ(icloud->heldTokens("iCloud:/plan.orrx"), 0u);
}

TEST_F(CrossDocumentTest, AnICloudSourceWithoutProxyIsLeftAlone) {
  icloud->store("iCloud:/unlisted.orrx", Idea::createWithText("Unlisted"));
  const int fetches = icloud->calls(Op::Fetch);
  EXPECT_FALSE(run([&](auto done) {
    ops.moveIdeaBefore(QString(), "iCloud:/unlisted.orrx", 0, DocumentLocationDropbox, done);
  }));
  EXPECT_EQ(icloud->calls(Op::Fetch), fetches);
  EXPECT_TRUE(icloud->hasStored("iCloud:/unlisted.orrx"));
  EXPECT_EQ(listed(DocumentLocationDropbox).size(), 1);
}

TEST_F(CrossDocumentTest, ChangesToTemporaryDocumentsAreAnnounced) {
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  IdeaPtr root = Idea::createWithText("Scratch");
  IdeaPtr child = Idea::createWithText("Moving");
  root->addIdea(child);
  doc->setIdea(root);
  DocumentToken token = 0;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(main.runUntil([&] { return token != 0; }));
  ASSERT_GE(token, 1);

  EXPECT_TRUE(run([&](auto done) {
    ops.moveIdeaInside(child->identifier(), doc->docIdentifier(), 0, DocumentLocationDropbox, done);
  }));
  EXPECT_EQ(shape(dropbox->storedIdea("dropbox:/box.orrx")), "Box[Moving]");
  // The editor's tree lost the idea, and it hears of it.
  EXPECT_EQ(shape(doc->idea()), "Scratch");
  EXPECT_EQ(listener->events, (QStringList{"updated dropbox:/box.orrx", "updated " + doc->docIdentifier()}));
  EXPECT_EQ(doc->tokenCount(), 1u);
  EXPECT_EQ(shape(fetch(QString(), doc->docIdentifier())), "Scratch");
}

TEST_F(CrossDocumentTest, ASaveOfADocumentThatLeftTheListIsStillAnnounced) {
  dropbox->holdAnswers(true);
  std::optional<bool> result;
  ops.copyIdeaInside(Idea::createWithText("Pasted"), 0, DocumentLocationDropbox, [&](bool ok) { result = ok; });
  ASSERT_EQ(dropbox->heldAnswerCount(), 1u);
  dropbox->releaseHeldAnswers();
  ASSERT_TRUE(main.runUntil([&] { return dropbox->heldAnswerCount() == 1 && dropbox->calls(Op::Update) == 1; }));
  // Storage lost the document while it was being written: no workspace entry tells of the save.
  dropbox->reportDeleted("dropbox:/box.orrx");
  dropbox->releaseHeldAnswers();
  ASSERT_TRUE(main.runUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(*result);
  EXPECT_EQ(listener->events, (QStringList{"deleted dropbox:/box.orrx", "updated dropbox:/box.orrx"}));
}
