// What the iCloud engine makes of the copies sync tools leave in the container: conflict
// copies of documents and of the index, copies of no document, documents no index names.
#include "cloud/cloud_mode.h"

#include "cloud/support/cloud_workspace_test.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/support/recording_workspace_delegate.h"
#include "model/support/virtual_main_queue.h"
#include "model/workspace.h"
#include "platform/cloud/file_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <utime.h>

using namespace orrery;
using testsupport::CloudContainerFixture;

namespace {

using CloudConflictTest = cloudtest::CloudWorkspaceTest;

}  // namespace

TEST_F(CloudConflictTest, TheNewestVersionTakesTheFileAndEveryOtherOneBecomesADocument) {
  const QString identifier = container.writeDocument("shared.orrx", "local edit");
  container.writeIndex();
  writeCopy("shared.sync-conflict-20261207-090000-MACHINEB.orrx", "older edit on B", 1700000000);
  writeCopy("shared (Machine C's conflicted copy 2026-12-07).orrx", "newest edit on C", 1800000000);
  writeCopy("shared (1).orrx", "oldest copy", 1600000000);
  startWorkspace();
  ASSERT_EQ(listedTexts(), QStringList({"local edit"})) << "conflict copies are versions, not documents";

  const IdeaProxyPtr proxy = workspace->findProxy(identifier);
  const auto [result, kept] = settleConflict(proxy);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(textsOnDisk(), QStringList({"local edit", "newest edit on C", "older edit on B", "oldest copy"}))
      << "no version is lost";
  EXPECT_EQ(listedTexts(), textsOnDisk());
  EXPECT_EQ(workspace->findProxy(identifier)->text(), "newest edit on C");
  EXPECT_FALSE(QFileInfo::exists(platform::FileVersion::versionsFolderOf(container.documentPath("shared.orrx"))));
  // The user is told of each version and where it went.
  EXPECT_EQ(kept, (std::vector<KeptConflictVersion>{{"", "local edit", ""},
                                                    {"1", "oldest copy", ""},
                                                    {"sync-conflict-20261207-090000-MACHINEB", "older edit on B", ""}}));
  // The index keeps them all.
  IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
  index.readBinaryWithCompletionHandler(nullptr);
  EXPECT_EQ(index.ideaProxyList().size(), 4u);
}

// A copy whose document is gone, versions of a document deleted since, documents no index
// names: each is listed as a document.
TEST_F(CloudConflictTest, NothingOnDiskStaysUnlisted) {
  container.writeDocument("indexed.orrx", "indexed");
  container.writeIndex();
  writeCopy("gone.sync-conflict-20261207-090000-MACHINEB.orrx", "copy of a gone document", 1700000000);
  writeCopy("brought.orrx", "brought by a sync tool", 1700000000);
  const QString versions = platform::FileVersion::versionsFolderOf(container.documentPath("deleted.orrx"));
  QDir().mkpath(versions);
  CloudContainerFixture::writeFile(versions + "/deleted (1).orrx",
                                   CloudContainerFixture::documentBytes("deleted.orrx", "version of a deleted one"));
  CloudContainerFixture::writeFile(container.documentPath("broken.orrx"), "no map");
  startWorkspace();
  const QStringList expected{"brought by a sync tool", "copy of a gone document", "indexed",
                             "version of a deleted one"};
  EXPECT_TRUE(main.runUntil([&] { return listedTexts() == expected; })) << listedTexts().join(", ").toStdString();
}

TEST_F(CloudConflictTest, DeletingADocumentKeepsItsUnsettledVersionsAsDocuments) {
  const QString identifier = container.writeDocument("shared.orrx", "local edit");
  container.writeIndex();
  writeCopy("shared (Machine B's conflicted copy 2026-12-07).orrx", "edit on B", 1700000000);
  startWorkspace();
  ASSERT_EQ(listedTexts(), QStringList({"local edit"}));
  int deleted = -1;
  workspace->deleteDocument(identifier, [&](bool ok) { deleted = ok; });
  ASSERT_TRUE(main.runUntil([&] { return deleted >= 0; }));
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(listedTexts(), QStringList({"edit on B"})) << "listed by the time the deletion is told";
  settle();
  EXPECT_EQ(textsOnDisk(), QStringList({"edit on B"}));
  EXPECT_FALSE(QFileInfo::exists(platform::FileVersion::versionsFolderOf(container.documentPath("shared.orrx"))));
  IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
  index.readBinaryWithCompletionHandler(nullptr);
  ASSERT_EQ(index.ideaProxyList().size(), 1u);
  EXPECT_EQ(index.ideaProxyList()[0]->text(), "edit on B");
}

// Machine B made a document and saved its index while A saved its own: the sync tool keeps
// one index and leaves the other beside it, named as the tool names conflict copies.
TEST_F(CloudConflictTest, AnIndexConflictCopyIsMergedIntoTheIndex) {
  for (const QString& copyName : {QString("orrery.sync-conflict-20261208-123456-MACHINEB.index"),
                                  QString("orrery (Machine B's conflicted copy 2026-12-08).index")}) {
    SCOPED_TRACE(copyName.toStdString());
    CloudContainerFixture here;
    auto proxyOf = [](const QString& name, const QString& text) {
      return IdeaProxy::createWithDoc(CloudContainerFixture::makeDocument(name, text));
    };
    auto writeIndex = [](const QString& path, const ProxyList& list) {
      IndexDocument index(QUrl::fromLocalFile(path));
      index.setIdeaProxyList(list);
      index.saveBinaryToURL(index.presentedItemURL(), nullptr);
    };
    here.writeDocument("a.orrx", "made on A");
    here.writeDocument("b.orrx", "made on B");
    writeIndex(here.indexPath(), {proxyOf("a.orrx", "made on A")});
    // B's list also names a document deleted since.
    writeIndex(here.documentPath(copyName), {proxyOf("b.orrx", "made on B"), proxyOf("a.orrx", "made on A"),
                                             proxyOf("deleted.orrx", "deleted since")});
    workspace = Workspace::create(CloudMode::create(), &screens);
    ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
    EXPECT_EQ(listedTexts(), QStringList({"made on A", "made on B"}));
    EXPECT_FALSE(QFileInfo::exists(here.documentPath(copyName))) << "the copy is merged and gone";
    IndexDocument index(QUrl::fromLocalFile(here.indexPath()));
    index.readBinaryWithCompletionHandler(nullptr);
    QStringList indexed;
    for (const IdeaProxyPtr& proxy : index.ideaProxyList()) indexed << proxy->docIdentifier();
    EXPECT_EQ(indexed, QStringList({"iCloud:/a.orrx", "iCloud:/b.orrx"}));
    workspace->closeWorkspace();
    workspace.reset();
    settle();
  }
}

// A version written by a newer release, or cut short by an interrupted transfer, does not read:
// it never takes the file, is never called a kept document, and is never deleted; it goes back
// beside the documents as a file named for what it is, and the user is told why.
TEST_F(CloudConflictTest, AVersionThatDoesNotReadIsKeptAsAFileBesideTheDocumentsWithItsReason) {
  struct Case {
    const char* name;
    bool withReadableVersion;
  };
  for (const Case& c : {Case{"beside a readable version", true}, Case{"alone", false}}) {
    SCOPED_TRACE(c.name);
    CloudContainerFixture here;
    const QString identifier = here.writeDocument("shared.orrx", "local edit");
    here.writeIndex();
    QByteArray newer = CloudContainerFixture::documentBytes("shared.orrx", "from a newer release");
    ASSERT_TRUE(newer.contains("\"fileFormatVersion\":3"));
    newer.replace("\"fileFormatVersion\":3", "\"fileFormatVersion\":4");
    const QByteArray cut = CloudContainerFixture::documentBytes("shared.orrx", "cut short").left(40);
    auto put = [&](const QString& name, const QByteArray& bytes, qint64 modified) {
      ASSERT_TRUE(CloudContainerFixture::writeFile(here.documentPath(name), bytes));
      struct utimbuf times {
        modified, modified
      };
      ::utime(QFile::encodeName(here.documentPath(name)).constData(), &times);
    };
    put("shared (Machine C's conflicted copy 2026-12-08).orrx", newer, 1800000000);
    put("shared.sync-conflict-20261208-101010-MACHINED.orrx", cut, 1750000000);
    if (c.withReadableVersion)
      put("shared.sync-conflict-20261207-090000-MACHINEB.orrx",
          CloudContainerFixture::documentBytes("shared.orrx", "edit on B"), 1700000000);
    workspace = Workspace::create(CloudMode::create(), &screens);
    ASSERT_TRUE(main.runUntil([&] { return workspace->status() == WorkspaceStatusReady; }));
    settle();

    const IdeaProxyPtr proxy = workspace->findProxy(identifier);
    const auto [result, kept] = settleConflict(proxy);
    EXPECT_EQ(result, 1);
    const QString keptNewer = "shared (Machine C's conflicted copy 2026-12-08) - needs a newer Orrery.unreadable";
    const QString keptCut = "shared (sync-conflict-20261208-101010-MACHINED) - damaged.unreadable";
    EXPECT_EQ(CloudContainerFixture::readFile(here.documentPath(keptNewer)), newer) << "kept byte for byte";
    EXPECT_EQ(CloudContainerFixture::readFile(here.documentPath(keptCut)), cut);
    const std::vector<KeptConflictVersion> unreadable{
        {"Machine C's conflicted copy 2026-12-08", keptNewer, "it needs a newer version of Orrery"},
        {"sync-conflict-20261208-101010-MACHINED", keptCut, "it is damaged or incomplete"}};
    std::vector<KeptConflictVersion> expected;
    if (c.withReadableVersion) expected.push_back({"", "local edit", ""});
    expected.insert(expected.end(), unreadable.begin(), unreadable.end());
    EXPECT_EQ(kept, expected);
    // The newest version that reads has the file; without one the local content keeps it.
    EXPECT_EQ(textsOnDisk(here.documents()), c.withReadableVersion ? QStringList({"edit on B", "local edit"}) : QStringList({"local edit"}));
    EXPECT_FALSE(workspace->findConflictingVersion(proxy));

    // Deleting the document later takes nothing else with it.
    int deleted = -1;
    workspace->deleteDocument(identifier, [&](bool ok) { deleted = ok; });
    ASSERT_TRUE(main.runUntil([&] { return deleted >= 0; }));
    settle();
    EXPECT_TRUE(QFileInfo::exists(here.documentPath(keptNewer)));
    EXPECT_TRUE(QFileInfo::exists(here.documentPath(keptCut)));
    workspace->closeWorkspace();
    workspace.reset();
    settle();
  }
}
