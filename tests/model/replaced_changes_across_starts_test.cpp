// Changes of an instance that another one replaced while the first had already quit: the file
// keeps them, with the tree that instance last wrote, until a later process of the same
// installation opens the document and takes them.

#include "document_test_support.h"
#include "rerun_this_program.h"

#include "foundation/globals.h"
#include "model/icon_image.h"
#include "model/idea_document.h"
#include "model/document_file_writer.h"
#include "model/persistence_controller.h"

#include "platform/services/user_defaults.h"

#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdio>

using namespace orrery;
using testsupport::spinUntil;

namespace {

constexpr char kPathVariable[] = "ORRERY_TEST_LOST_CHANGE_PATH";
constexpr char kStepVariable[] = "ORRERY_TEST_LOST_CHANGE_STEP";
constexpr char kInstallationVariable[] = "ORRERY_TEST_LOST_CHANGE_INSTALLATION";

IdeaPtr ideaA(const std::shared_ptr<IdeaDocument>& doc) { return doc->idea()->findIdeaInSubTreeWithIdentifier("a"); }

struct Opened {
  std::shared_ptr<IdeaDocument> doc;
  DocumentToken token = -1;
};

Opened openFile(const QString& path) {
  Opened opened{PersistenceController::singleton().documentForIdentifier("file://" + path)};
  PersistenceController::singleton().openDocument(opened.doc, [&](DocumentToken t) { opened.token = t; });
  spinUntil([&] { return opened.token >= 0; });
  return opened;
}

bool save(const Opened& opened) {
  int saved = -1;
  PersistenceController::singleton().saveDocument(opened.doc, opened.token, [&](bool ok) { saved = ok; });
  return spinUntil([&] { return saved >= 0; }) && saved == 1;
}

// The document file as a reader sees it.
std::shared_ptr<IdeaDocument> onDisk(const QString& path) {
  auto read = IdeaDocument::createWithFileName("check.orrx", DocumentLocationDropbox);
  return read->loadFromOrreryData(testsupport::readAll(path)) ? read : nullptr;
}

}  // namespace

// A process of the test below, of the installation it is given: "edit" changes idea a, saves
// and quits; "reopen" opens the document and prints what it was told.
TEST(LostChangeProcess, Run) {
  const QString path = qEnvironmentVariable(kPathVariable);
  if (path.isEmpty()) GTEST_SKIP() << "runs only as a process of the lost change test";
  platform::UserDefaults::standard().setString(qEnvironmentVariable(kInstallationVariable),
                                               QString::fromLatin1(Globals::kAppInstallationKey));
  testsupport::QtMainQueueScope mainQueue;
  const Opened opened = openFile(path);
  ASSERT_GE(opened.token, 1);
  if (qEnvironmentVariable(kStepVariable) == "edit") {
    ideaA(opened.doc)->setText("a by the instance that quit");
    ASSERT_TRUE(save(opened));
  } else {
    const auto replaced = opened.doc->takeReplacedChanges();
    const IdeaPtr former = replaced.formerTree ? replaced.formerTree->findIdeaInSubTreeWithIdentifier("a") : nullptr;
    std::printf("TOLD %d %s\n", int(replaced.changes.size()), former ? qPrintable(former->text()) : "-");
    std::fflush(stdout);
    // What this process took, its next save no longer names.
    ASSERT_TRUE(save(opened));
  }
  PersistenceController::singleton().releaseDocument(opened.doc, opened.token, nullptr);
  spinUntil([] { return false; }, 50);
}

TEST(ReplacedChangesAcrossStarts, AnInstanceThatQuitIsToldAtItsInstallationsNextOpen) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("shared.orrery");
  const QString installation = Globals::appInstallation();
  auto run = [&](const char* step, const QString& asInstallation) {
    return testsupport::rerunThisProgram(
        "LostChangeProcess.Run",
        {{kPathVariable, path}, {kStepVariable, step}, {kInstallationVariable, asInstallation}});
  };

  // This instance has the document open with an unsaved change of idea a ...
  Opened running{PersistenceController::singleton().documentForIdentifier("file://" + path)};
  IdeaPtr root = Idea::createWithText("root", "r");
  root->addIdea(Idea::createWithText("a", "a"));
  running.doc->setIdea(root);
  PersistenceController::singleton().createDocument(running.doc, [&](DocumentToken t) { running.token = t; });
  ASSERT_TRUE(spinUntil([&] { return running.token >= 0; }));
  ASSERT_GE(running.token, 1);
  ideaA(running.doc)->setText("a by the running instance");
  // ... while another process of the same installation changes it too, saves and quits ...
  const auto edit = run("edit", installation);
  ASSERT_TRUE(edit.finished && edit.exitCode == 0) << edit.output;
  // ... and this one's save replaces that change.
  ASSERT_TRUE(save(running));
  ASSERT_EQ(ideaA(onDisk(path))->text(), "a by the running instance");

  // Later starts, in turn: another installation is not told and leaves the news in the file;
  // the installation of the one that quit is told once, with the values it lost.
  const struct {
    QString installation;
    std::string told;
  } starts[] = {
      {QUuid::createUuid().toString(QUuid::WithoutBraces), "TOLD 0 -"},
      {installation, "TOLD 1 a by the instance that quit"},
      {installation, "TOLD 0 -"},
  };
  for (const auto& start : starts) {
    SCOPED_TRACE(start.told);
    const auto reopen = run("reopen", start.installation);
    ASSERT_TRUE(reopen.finished && reopen.exitCode == 0) << reopen.output;
    EXPECT_NE(reopen.output.find(start.told), std::string::npos) << reopen.output;
  }
  const auto last = onDisk(path);
  ASSERT_TRUE(last);
  EXPECT_TRUE(last->replacedInFile().empty());
  EXPECT_TRUE(last->replacedTreesInFile().empty());
  EXPECT_EQ(ideaA(last)->text(), "a by the running instance");
  PersistenceController::singleton().releaseDocument(running.doc, running.token, nullptr);
}

// Files of writers that named no installation or no values lost read as before; new files
// name both, and still hold the entries as earlier versions read them.
TEST(ReplacedChangesAcrossStarts, EntriesWithAndWithoutAnInstallationRead) {
  IdeaPtr tree = Idea::createWithText("root", "r");
  DocumentSnapshot snapshot =
      DocumentSnapshot::of(tree, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc(), "MAC_1");
  snapshot.writerInstallation = "install-1";
  snapshot.replaced = {{"r", "text", "MAC_2", "install-2", "0123456789abcdef"}, {"r", "note", "MAC_3", ""}};
  snapshot.replacedTrees = {{"MAC_2", "install-2", Idea::createWithText("theirs", "r")},
                            {"MAC_9", "install-9", Idea::createWithText("named nowhere", "r")}};
  const auto read = IdeaDocument::fromFileBytes(snapshot.encode(false), false);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->appInstance(), "MAC_1");
  EXPECT_EQ(read->appInstallation(), "install-1");
  EXPECT_EQ(read->replacedInFile(), snapshot.replaced);
  ASSERT_EQ(read->replacedTreesInFile().size(), 1u) << "only trees of instances the file names";
  EXPECT_EQ(read->replacedTreesInFile()[0].tree->text(), "theirs");
  EXPECT_NE(snapshot.encode(false).indexOf(R"("replacedChanges":["MAC_2@install-2\tr\ttext","MAC_3\tr\tnote"])"), -1);

  const QByteArray older =
      R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":"root","identifier":"r"},)"
      R"("appInstance":"MAC_4","replacedChanges":["MAC_5\tr\ttext"]}})";
  const auto old = IdeaDocument::fromFileBytes(older, false);
  ASSERT_TRUE(old);
  EXPECT_TRUE(old->appInstallation().isEmpty());
  EXPECT_EQ(old->replacedInFile(), (std::vector<IdeaMergeConflict>{{"r", "text", "MAC_5", ""}}));
}

// The file still holds this instance's last write, under a new stamp (its folder went away and
// came back, a sync tool wrote it again): the next save names no replaced change, since no
// other instance made one, for an idea with an icon too.
TEST(ReplacedChangesAcrossStarts, AnInstanceNeverReportsAConflictWithItself) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("own.orrery");
  Opened running{PersistenceController::singleton().documentForIdentifier("file://" + path)};
  IdeaPtr root = Idea::createWithText("root", "r");
  root->addIdea(Idea::createWithText("a1", "a"));
  root->setIconImage(std::make_shared<IconImage>("star", "Symbols", "\u2B50"));
  running.doc->setIdea(root);
  PersistenceController::singleton().createDocument(running.doc, [&](DocumentToken t) { running.token = t; });
  ASSERT_TRUE(spinUntil([&] { return running.token >= 0; }));
  ASSERT_GE(running.token, 1);
  root->setIconImage(std::make_shared<IconImage>("backpack", "Objects", "\U0001F392"));
  ASSERT_TRUE(save(running));
  ASSERT_EQ(writeFileReplacing(path, testsupport::readAll(path)), FileWriteResult::Written);
  ideaA(running.doc)->setText("a2");
  ASSERT_TRUE(save(running));
  const auto last = onDisk(path);
  ASSERT_TRUE(last);
  EXPECT_TRUE(last->replacedInFile().empty());
  EXPECT_EQ(ideaA(last)->text(), "a2");
  EXPECT_TRUE(running.doc->takeReplacedChanges().changes.empty());
  PersistenceController::singleton().releaseDocument(running.doc, running.token, nullptr);
  spinUntil([] { return false; }, 50);
}
