#include "platform/cloud/file_version.h"

#include "rerun_this_program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr char kFolderVariable[] = "ORRERY_TEST_EXIT_SCAN_FOLDER";

bool writeFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write("{}") == 2;
}

// A documents query's scan that the exit overtook, as one on a global queue can be.
void scanAtExit() {
  const int moved = platform::FileVersion::collectConflictCopies(qEnvironmentVariable(kFolderVariable));
  if (moved != 1) std::_Exit(3);
}

}  // namespace

// Run only as the child of the test below: scans a documents folder once, then again from an
// exit handler registered before the first scan, so that it runs after the exit destroyed what
// the first scan made.
TEST(ScanAtExitProcess, Run) {
  const QString folder = qEnvironmentVariable(kFolderVariable);
  if (folder.isEmpty()) GTEST_SKIP() << "runs only as the child of the exit scan test";
  std::atexit(scanAtExit);
  ASSERT_TRUE(writeFile(folder + "/map.orrx"));
  ASSERT_TRUE(writeFile(folder + "/map.sync-conflict-20261207-090000-A.orrx"));
  ASSERT_EQ(platform::FileVersion::collectConflictCopies(folder), 1);
  ASSERT_TRUE(writeFile(folder + "/map (B's conflicted copy 2026-12-07).orrx"));
}

TEST(ConflictCopies, AScanRunningWhileTheProcessExitsStillMovesItsCopies) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  QTemporaryDir root;
  const QString documents = root.filePath("Documents");
  ASSERT_TRUE(QDir().mkpath(documents));
  const auto child = testsupport::rerunThisProgram("ScanAtExitProcess.Run", {{kFolderVariable, documents}});
  ASSERT_TRUE(child.finished);
  EXPECT_TRUE(child.exitedNormally) << child.output;
  EXPECT_EQ(child.exitCode, 0) << child.output;
  EXPECT_EQ(QDir(root.filePath(".versions/map.orrx")).entryList(QDir::Files).size(), 2) << child.output;
}
