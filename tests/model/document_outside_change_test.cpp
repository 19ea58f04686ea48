// Another instance's writes reaching an open document now that files are read on the
// persistence queue: a file that holds what this instance last wrote leaves the tree alone,
// a change this instance's save merged in is told to the windows, and a change told while a
// save is under way never puts older values over the file's newer ones.

#include "document_test_support.h"

#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "platform/core/notification_center.h"
#include "platform/services/file_presenter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>

using namespace orrery;
using testsupport::spinUntil;

namespace {

// root ─ a, b
IdeaPtr sampleTree() {
  IdeaPtr root = Idea::createWithText("root", "r");
  root->addIdea(Idea::createWithText("a", "a"));
  root->addIdea(Idea::createWithText("b", "b"));
  return root;
}

QString textOf(const IdeaPtr& root, const QString& id) {
  const IdeaPtr idea = root ? root->findIdeaInSubTreeWithIdentifier(id) : nullptr;
  return idea ? idea->text() : QString();
}

struct OutsideChange : ::testing::Test {
  void SetUp() override {
    path = dir.filePath("shared.orrery");
    doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
    doc->setIdea(sampleTree());
    PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
    ASSERT_TRUE(spinUntil([&] { return token >= 0; }));
    ASSERT_GE(token, 1);
    observer.observe(IdeaDocumentChangedNotification, doc.get(), [&](const platform::Notification&) { told++; });
  }
  void TearDown() override {
    if (token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
    testsupport::drainEvents();
  }
  // The other instance's version: the file's tree with `id` set to `text`, written behind
  // this instance's back.
  void writeTheirs(const QString& id, const QString& text) {
    auto other = IdeaDocument::createWithFileName("other.orrx", DocumentLocationDropbox);
    ASSERT_TRUE(other->loadFromOrreryData(testsupport::readAll(path)));
    other->idea()->findIdeaInSubTreeWithIdentifier(id)->setText(text);
    ASSERT_EQ(writeFileReplacing(path, other->exportAsOrreryData()), FileWriteResult::Written);
  }
  bool save() {
    int saved = -1;
    PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
    return spinUntil([&] { return saved >= 0; }) && saved == 1;
  }

  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  QString path;
  std::shared_ptr<IdeaDocument> doc;
  DocumentToken token = -1;
  int told = 0;
  platform::ObserverScope observer;
};

}  // namespace

TEST_F(OutsideChange, AFileThatStillHoldsOurLastWriteKeepsTheTreeAndTellsNothing) {
  const IdeaPtr shown = doc->idea();
  // The same bytes put back as a new file: another stamp, nothing new.
  ASSERT_EQ(writeFileReplacing(path, testsupport::readAll(path)), FileWriteResult::Written);
  const platform::FileStamp replaced = platform::FileStamp::of(path);
  platform::FilePresenterRegistry::shared().recheckAll();
  ASSERT_TRUE(spinUntil([&] { return doc->baseStamp() == replaced; }));
  testsupport::drainEvents();
  EXPECT_EQ(doc->idea(), shown) << "the windows' tree stays the document's";
  EXPECT_EQ(told, 0);
}

TEST_F(OutsideChange, ASaveThatMergedAnotherInstancesWriteTellsTheWindowsOnce) {
  writeTheirs("b", "b by them");
  doc->idea()->findIdeaInSubTreeWithIdentifier("a")->setText("a by us");
  ASSERT_TRUE(save());
  ASSERT_TRUE(spinUntil([&] { return told >= 1; }));
  platform::FilePresenterRegistry::shared().recheckAll();
  testsupport::drainEvents();
  EXPECT_EQ(told, 1);
  EXPECT_EQ(textOf(doc->idea(), "b"), "b by them");
  EXPECT_EQ(textOf(doc->idea(), "a"), "a by us");
}

// The other instance writes twice: the first change is read before our save writes, the
// second is what our save merges with. Taking the first read in between would make its older
// value look like our own edit and put it back over the second.
TEST_F(OutsideChange, AChangeToldWhileASaveIsUnderWayNeverPutsOlderValuesBack) {
  std::promise<void> gate;
  PersistenceController::singleton().workQueue().async([f = gate.get_future().share()] { f.wait(); });
  writeTheirs("b", "b first");
  platform::FilePresenterRegistry::shared().recheckAll();
  testsupport::drainEvents();  // the re-read waits behind the gate
  PersistenceController::singleton().workQueue().async([this] { writeTheirs("b", "b second"); });
  doc->idea()->findIdeaInSubTreeWithIdentifier("a")->setText("a by us");
  int saved = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  gate.set_value();
  ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  ASSERT_EQ(saved, 1);
  testsupport::drainEvents();
  EXPECT_EQ(textOf(doc->idea(), "b"), "b second");
  ASSERT_TRUE(save());
  const auto onDisk = IdeaDocument::treeFromFileBytes(testsupport::readAll(path), true);
  EXPECT_EQ(textOf(onDisk, "b"), "b second") << "the other instance's newer value stays in the file";
  EXPECT_EQ(textOf(onDisk, "a"), "a by us");
}

// Two versions, each within the levels a map holds, can merge into a deeper one: the save is
// refused, saying why, and the file keeps the other instance's version rather than losing it.
TEST_F(OutsideChange, AMergeDeeperThanAMapHoldsIsNotWrittenAndSaysWhy) {
  auto chainBelow = [](IdeaPtr idea, int levels) {
    for (int i = 0; i < levels; ++i) {
      idea->addIdea(Idea::createWithText("deeper"));
      idea = idea->ideas().back();
    }
    return idea;
  };
  const QString aBottom = chainBelow(doc->idea()->ideas()[0], 300)->identifier();
  const IdeaPtr bBottom = chainBelow(doc->idea()->ideas()[1], 150);
  ASSERT_TRUE(save());
  // They move b below a's chain: 453 levels.
  auto other = IdeaDocument::createWithFileName("other.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(other->loadFromOrreryData(testsupport::readAll(path)));
  const IdeaPtr b = other->idea()->findIdeaInSubTreeWithIdentifier("b");
  other->idea()->detachIdea("b");
  other->idea()->findIdeaInSubTreeWithIdentifier(aBottom)->addIdea(b);
  const QByteArray theirs = other->exportAsOrreryData();
  ASSERT_FALSE(theirs.isEmpty());
  ASSERT_EQ(writeFileReplacing(path, theirs), FileWriteResult::Written);
  // We go on below b's chain: 513 levels merged.
  chainBelow(bBottom, 60);
  EXPECT_FALSE(save());
  EXPECT_TRUE(doc->lastUserFriendlyError().contains("its ideas go deeper than the 498 levels a map can hold"))
      << doc->lastUserFriendlyError().toStdString();
  EXPECT_EQ(testsupport::readAll(path), theirs);
  EXPECT_EQ(DocumentSize::levelsOf(*doc->idea(), 1).deepest, 302) << "the map in memory stays ours";
}
