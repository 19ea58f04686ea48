#include "platform/cloud/file_version.h"
#include "platform/core/system_log.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <syslog.h>
#include <unistd.h>
#include <utime.h>

using platform::FileVersion;

namespace {

using testsupport::writeFile;
using testsupport::readFile;

// A container root with its Documents folder.
struct Root {
  Root() { QDir().mkpath(documents()); }
  QString documents() const { return dir.filePath("Documents"); }
  QString doc(const QString& name) const { return documents() + "/" + name; }
  QString versions(const QString& name) const { return dir.filePath(".versions/" + name); }
  QTemporaryDir dir;
};

}  // namespace

TEST(FileVersionTest, SyncToolConflictCopiesBecomeVersionsOfTheirDocument) {
  Root root;
  writeFile(root.doc("plan.orrx"), "mine");
  writeFile(root.doc("plan.sync-conflict-20261207-101010-ABCDEFG.orrx"), "syncthing");
  writeFile(root.doc("plan (Ann's conflicted copy 2026-12-07).orrx"), "dropbox");
  writeFile(root.doc("plan.sync-conflict-x.txt"), "not a document");
  writeFile(root.doc("other.orrx"), "calm");
  EXPECT_EQ(FileVersion::collectConflictCopies(root.documents()), 2);
  EXPECT_EQ(QDir(root.documents()).entryList(QDir::Files),
            QStringList({"other.orrx", "plan.orrx", "plan.sync-conflict-x.txt"}));
  const auto versions = FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx"));
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(readFile(versions[0]->path()), "dropbox");
  EXPECT_TRUE(FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("other.orrx")).empty());

  // A second copy of the same name, later: kept beside the first.
  writeFile(root.doc("plan.sync-conflict-20261207-101010-ABCDEFG.orrx"), "again");
  EXPECT_EQ(FileVersion::collectConflictCopies(root.documents()), 1);
  EXPECT_EQ(FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx")).size(), 3u);
}

TEST(FileVersionTest, JunkInTheVersionsFolderIsIgnoredAndLinksAreNeverFollowed) {
  Root root;
  QTemporaryDir elsewhere;
  writeFile(elsewhere.filePath("secret.orrx"), "secret");
  QDir().mkpath(root.versions("plan.orrx") + "/folder");
  QFile::link(elsewhere.filePath("secret.orrx"), root.versions("plan.orrx") + "/link.orrx");
  writeFile(root.versions("plan.orrx") + "/real.orrx", "real");
  writeFile(root.versions("plan.orrx") + "/done.orrx.resolved", "old");
  const auto versions = FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx"));
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_TRUE(versions[0]->path().endsWith("real.orrx"));

  // A versions folder that is a link leads nowhere, and copies stay put rather than go there.
  QFile::link(elsewhere.path(), root.versions("linked.orrx"));
  writeFile(root.doc("linked.orrx"), "mine");
  writeFile(root.doc("linked.sync-conflict-1.orrx"), "copy");
  EXPECT_TRUE(FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("linked.orrx")).empty());
  EXPECT_EQ(FileVersion::collectConflictCopies(root.documents()), 0);
  EXPECT_TRUE(QFileInfo::exists(root.doc("linked.sync-conflict-1.orrx")));
  EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files), QStringList({"secret.orrx"}));
  EXPECT_FALSE(FileVersion::removeOtherVersionsOfItemAtURL(root.doc("linked.orrx"), nullptr));
  EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath("secret.orrx")));
}

TEST(FileVersionTest, ReplaceResolveAndRemove) {
  Root root;
  writeFile(root.doc("plan.orrx"), "mine");
  QDir().mkpath(root.versions("plan.orrx"));
  writeFile(root.versions("plan.orrx") + "/theirs.orrx", "theirs");
  struct utimbuf times {
    1700000000, 1700000000
  };
  ::utime(QFile::encodeName(root.versions("plan.orrx") + "/theirs.orrx").constData(), &times);
  auto versions = FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx"));
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]->modificationDate().toSecsSinceEpoch(), 1700000000);

  QString error;
  ASSERT_TRUE(versions[0]->replaceItemAtURL(root.doc("plan.orrx"), &error)) << error.toStdString();
  EXPECT_EQ(readFile(root.doc("plan.orrx")), "theirs");
  ASSERT_TRUE(versions[0]->setResolved(true));
  EXPECT_TRUE(versions[0]->isResolved());
  EXPECT_TRUE(FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx")).empty());
  EXPECT_TRUE(FileVersion::removeOtherVersionsOfItemAtURL(root.doc("plan.orrx"), &error));
  EXPECT_FALSE(QFileInfo::exists(root.versions("plan.orrx")));

  // A version that vanished cannot replace anything, and says so.
  error.clear();
  EXPECT_FALSE(versions[0]->replaceItemAtURL(root.doc("plan.orrx"), &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(readFile(root.doc("plan.orrx")), "theirs");
}

// The versions of a document that is gone (deleted here, or on another machine) are documents
// again, under the names the sync tools gave them; those an earlier release marked settled
// (versions that did not read) are kept beside them as files, never deleted.
TEST(FileVersionTest, VersionsOfAGoneDocumentBecomeDocumentsAgain) {
  Root root;
  QDir().mkpath(root.versions("gone.orrx"));
  writeFile(root.versions("gone.orrx") + "/gone (B's conflicted copy 2026-12-08).orrx", "from B");
  writeFile(root.versions("gone.orrx") + "/gone.sync-conflict-1-C.orrx.resolved", "settled");
  // Taken by a document since: the version takes the next free name.
  writeFile(root.doc("kept.sync-conflict-1-C.orrx"), "a document already");
  QDir().mkpath(root.versions("kept.orrx"));
  writeFile(root.versions("kept.orrx") + "/kept.sync-conflict-1-C.orrx", "from C");
  // A document still here keeps its versions.
  writeFile(root.doc("here.orrx"), "mine");
  QDir().mkpath(root.versions("here.orrx"));
  writeFile(root.versions("here.orrx") + "/here (1).orrx", "theirs");

  EXPECT_EQ(FileVersion::collectConflictCopies(root.documents()), 0);
  EXPECT_EQ(QDir(root.documents()).entryList(QDir::Files),
            QStringList({"2-kept.sync-conflict-1-C.orrx", "gone (B's conflicted copy 2026-12-08).orrx",
                         "gone.sync-conflict-1-C.orrx.unreadable", "here.orrx", "kept.sync-conflict-1-C.orrx"}));
  EXPECT_EQ(readFile(root.doc("gone.sync-conflict-1-C.orrx.unreadable")), "settled");
  EXPECT_EQ(readFile(root.doc("2-kept.sync-conflict-1-C.orrx")), "from C");
  EXPECT_EQ(readFile(root.doc("gone (B's conflicted copy 2026-12-08).orrx")), "from B");
  EXPECT_FALSE(QFileInfo::exists(root.versions("gone.orrx")));
  EXPECT_FALSE(QFileInfo::exists(root.versions("kept.orrx")));
  EXPECT_EQ(FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("here.orrx")).size(), 1u);
  // The restored copy of a document that is gone is no version of anything: it stays.
  EXPECT_EQ(FileVersion::collectConflictCopies(root.documents()), 0);
}

// What the versions code logs takes the program's one route: there, the system log.
TEST(FileVersionTest, ItsLinesGoWhereTheProgramSendsItsLog) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        platform::sendLogToSystemLog("orrery");
        // The system log's lines are copied to standard error, marked with the name and the id.
        ::openlog("orrery", LOG_PID | LOG_PERROR, LOG_USER);
        Root root;
        QDir().mkpath(root.dir.filePath(".versions"));
        writeFile(root.versions("plan.orrx"), "a file where a folder belongs");
        FileVersion::unresolvedConflictVersionsOfItemAtURL(root.doc("plan.orrx"));
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "orrery\\[[0-9]+\\]: FileVersion: [^\n]*plan\\.orrx is not a folder; no versions read");
  GTEST_FLAG_SET(death_test_style, style);
}
