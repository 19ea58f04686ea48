// What the iCloud engine makes of a folder that changes under it: an index cut short, a folder
// that goes away and comes back, documents a sync tool copies in while the program runs.
#include "cloud/cloud_mode.h"
#include "cloud/damaged_index.h"
#include "cloud/new_documents_scan.h"

#include "cloud/support/cloud_workspace_test.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/index_document.h"
#include "model/persistence_controller.h"
#include "model/support/recording_workspace_delegate.h"
#include "model/support/virtual_main_queue.h"
#include "model/workspace.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/cloud/file_version.h"
#include "platform/core/notification_center.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace orrery;
using testsupport::CloudContainerFixture;

namespace {

class CloudFolderChangesTest : public cloudtest::CloudWorkspaceTest {
 protected:
  CloudFolderChangesTest() {
    notices.observe(CloudIndexSetAsideNotification, nullptr, [this](const platform::Notification& n) {
      told << std::any_cast<QString>(n.userInfo.at(kCloudNoticeMessageKey));
    });
  }
  ~CloudFolderChangesTest() override { takeCloudNotices(); }
  QStringList indexedIdentifiers() const {
    IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
    index.readBinaryWithCompletionHandler(nullptr);
    QStringList identifiers;
    for (const IdeaProxyPtr& proxy : index.ideaProxyList()) identifiers << proxy->docIdentifier();
    identifiers.sort();
    return identifiers;
  }
  QStringList writeDocuments(int count) {
    QStringList texts;
    for (int i = 0; i < count; ++i) {
      texts << QString("Map %1").arg(i, 2, 10, QChar('0'));
      container.writeDocument(QString("map%1.orrx").arg(i, 2, 10, QChar('0')), texts.back());
    }
    return texts;
  }

  platform::ObserverScope notices;
  QStringList told;
};

}  // namespace

// An index that will never read goes aside, kept byte for byte; the documents on disk are
// listed and written into a new index, and the user is told once.
TEST_F(CloudFolderChangesTest, ADamagedIndexIsSetAsideAndTheDocumentsOnDiskAreListed) {
  struct Case {
    const char* name;
    int keep;  // bytes of the good index kept; -1: other bytes; -2: more than the memory there is
  };
  for (const Case& c : {Case{"cut to 100 bytes", 100}, Case{"empty", 0}, Case{"not an index", -1},
                        Case{"larger than the memory", -2}}) {
    SCOPED_TRACE(c.name);
    const QStringList texts = writeDocuments(13);
    ASSERT_TRUE(container.writeIndex());
    const QByteArray whole = CloudContainerFixture::readFile(container.indexPath());
    const QByteArray damaged = c.keep == -1 ? QByteArray("not an index") : whole.left(std::max(c.keep, 0));
    ASSERT_TRUE(CloudContainerFixture::writeFile(container.indexPath(), damaged));
    if (c.keep == -2) {
      ASSERT_TRUE(QFile::resize(container.indexPath(), qint64(1) << 40)) << "sparse: no disk taken";
    }
    told.clear();
    startWorkspace();
    ASSERT_TRUE(main.runUntil([&] { return listedTexts().size() == 13; })) << listedTexts().join(", ").toStdString();
    EXPECT_EQ(listedTexts(), texts);
    settle();
    const QStringList aside = QDir(container.documents()).entryList({"orrery.index.damaged-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1) << "kept, not deleted";
    if (c.keep == -2)
      EXPECT_EQ(QFileInfo(container.documentPath(aside[0])).size(), qint64(1) << 40);
    else
      EXPECT_EQ(CloudContainerFixture::readFile(container.documentPath(aside[0])), damaged);
    EXPECT_EQ(indexedIdentifiers().size(), 13) << "a new index lists what is on disk";
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(aside[0])) << told[0].toStdString();
    EXPECT_EQ(takeCloudNotices(), told) << "left for the next iCloud screen that shows";

    // A map made now is listed and indexed; nothing is read again nor told again.
    auto doc = IdeaDocument::createWithFileName("made-now.orrx", DocumentLocationICloud);
    doc->setIdea(Idea::createWithText("Made now"));
    DocumentToken token = -1;
    workspace->createDocument(doc, 0, [&](DocumentToken t) { token = t; });
    ASSERT_TRUE(main.runUntil([&] { return token >= 0; }));
    ASSERT_GT(token, 0);
    workspace->closeDocument(doc, token, nullptr);
    main.advance(4 * CloudMode::kIndexRetrySeconds);
    settle();
    EXPECT_TRUE(listedTexts().contains("Made now"));
    EXPECT_TRUE(indexedIdentifiers().contains("iCloud:/made-now.orrx"));
    EXPECT_EQ(told.size(), 1);
    EXPECT_EQ(QDir(container.documents()).entryList({"orrery.index.damaged-*"}, QDir::Files).size(), 1);

    workspace->closeWorkspace();
    workspace.reset();
    settle();
    QDir(container.documents()).removeRecursively();
  }
}

// What a sync tool brings while the list is shown appears within a few seconds, as at start;
// a conflict copy of a listed document becomes one of its versions; a copy of no document,
// listed at start, stays listed when its document arrives after it.
TEST_F(CloudFolderChangesTest, MapsASyncToolBringsWhileRunningAppearWithinSeconds) {
  const QString shared = container.writeDocument("shared.orrx", "Shared");
  writeCopy("gone.sync-conflict-20261207-090000-MACHINEB.orrx", "Copy of gone", 1700000000);
  ASSERT_TRUE(container.writeIndex());
  startWorkspace();
  ASSERT_TRUE(main.runUntil([&] { return listedTexts() == QStringList({"Copy of gone", "Shared"}); }));

  struct Brought {
    const char* name;
    const char* text;
    bool listed;
  };
  QStringList expected{"Copy of gone", "Shared"};
  std::vector<Brought> brought{{"gone.orrx", "Gone is back", true},
                               {"shared (Machine C's conflicted copy 2026-12-08).orrx", "Shared on C", false}};
  std::vector<QString> names;
  for (int i = 0; i < 37; ++i) names.push_back(QString("copied%1.orrx").arg(i, 2, 10, QChar('0')));
  brought.resize(brought.size() + names.size(), {nullptr, nullptr, true});
  for (std::size_t i = 0; i < brought.size(); ++i) {
    const QString name = brought[i].name ? QString(brought[i].name) : names[i - 2];
    const QString text = brought[i].text ? QString(brought[i].text) : "Copied " + name.mid(6, 2);
    ASSERT_TRUE(CloudContainerFixture::writeFile(container.documentPath(name),
                                                 CloudContainerFixture::documentBytes(name, text)));
    if (brought[i].listed) expected << text;
  }
  expected.sort();
  main.advance(kNewDocumentsScanSeconds);
  EXPECT_TRUE(main.runUntil([&] { return listedTexts() == expected; })) << listedTexts().join(", ").toStdString();
  settle();
  main.advance(kNewDocumentsScanSeconds);
  settle();
  EXPECT_EQ(listedTexts(), expected) << "nothing vanished, nothing listed twice";
  EXPECT_TRUE(QFileInfo::exists(container.documentPath("gone.sync-conflict-20261207-090000-MACHINEB.orrx")))
      << "the listed copy stays a document";
  EXPECT_TRUE(workspace->findConflictingVersion(workspace->findProxy(shared))) << "the new copy is a version";
  EXPECT_EQ(indexedIdentifiers().size(), expected.size()) << "the index names what is listed";
}
