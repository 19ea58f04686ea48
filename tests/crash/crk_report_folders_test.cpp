// The stage folders of the crash data tree and the report objects made from report folders
// earlier runs left, including damaged ones.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "crash/crk_context.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_user_logging.h"
#include "crash_test_support.h"
#include "hex_text.h"

namespace {

using namespace telemetry;

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Record files hold text as lowercase hexadecimal.
using testsupport::hex;

const char* kMetadata =
    R"({"identity":{"session_id":"0123456789abcdef0123456789abcdef","api_key":"key-1","started_at":1700000000}})"
    "\n"
    R"({"host":{"os_display_version":"6.8.0","os_build_version":"#1 SMP"}})"
    "\n"
    R"({"application":{"build_version":"412","display_version":"2.3"}})"
    "\n";

struct Tree {
  std::string root = crashtest::makeFolder("crash-tree");
  CRKFileManager manager{root};
  Tree() { EXPECT_TRUE(manager.prepareForNewLaunch()); }
  std::string report(const std::string& stageFolder, const std::string& name, const char* metadata = kMetadata) {
    std::string folder = stageFolder + "/" + name;
    EXPECT_TRUE(manager.createDirectoryAtPath(folder));
    if (metadata) writeFile(folder + "/metadata.crkrecord", metadata);
    return folder;
  }
};

TEST(CrashReportFolders, StagesMoveWholeFoldersAndNeverTouchHiddenNames) {
  Tree tree;
  auto& fm = tree.manager;
  struct stat info {};
  ASSERT_EQ(::stat(fm.activePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(exists(fm.pendingPath()));

  ASSERT_TRUE(fm.createDirectoryAtPath(fm.pendingPath()));
  tree.report(fm.pendingPath(), "b");
  tree.report(fm.pendingPath(), "a");
  writeFile(fm.pendingPath() + "/.hidden", "x");
  EXPECT_EQ(fm.contentsOfDirectory(fm.pendingPath()),
            (std::vector<std::string>{fm.pendingPath() + "/a", fm.pendingPath() + "/b"}));

  ASSERT_TRUE(fm.movePendingToProcessing());
  EXPECT_TRUE(exists(fm.pendingPath() + "/.hidden"));
  EXPECT_TRUE(exists(fm.processingPath() + "/a/metadata.crkrecord"));
  std::vector<std::string> identifiers;
  fm.enumerateReportsInProcessingDirectory([&](std::shared_ptr<CRKInternalReport> report, const std::string&) {
    identifiers.push_back(report ? report->identifier() : "none");
  });
  EXPECT_EQ(identifiers.size(), 2u);
  EXPECT_EQ(identifiers[0], "0123456789abcdef0123456789abcdef");

  EXPECT_FALSE(fm.moveItemAtPath(fm.processingPath() + "/missing", fm.preparedPath()));
  EXPECT_FALSE(fm.moveItemAtPath(fm.processingPath() + "/a", fm.rootPath() + "/nowhere"));
  ASSERT_TRUE(fm.moveProcessingContentsToPrepared());
  EXPECT_EQ(fm.preparedPathContents().size(), 2u);
  EXPECT_TRUE(fm.processingPathContents().empty());

  ASSERT_TRUE(fm.createDirectoryAtPath(fm.quarantinePath()));
  writeFile(fm.quarantinePath() + "/old.multipartmime", "x");
  writeFile(fm.preparedPath() + "/.a.retries", "2");
  tree.report(fm.activePath(), "c");
  EXPECT_TRUE(fm.removeContentsOfAllPaths());
  for (const auto& folder : {fm.activePath(), fm.preparedPath(), fm.quarantinePath(), fm.pendingPath()})
    EXPECT_TRUE(fm.contentsOfDirectory(folder).empty()) << folder;
  EXPECT_FALSE(exists(fm.preparedPath() + "/.a.retries"));
  EXPECT_EQ(fm.fileSizeAtPath(fm.pendingPath() + "/.hidden"), 1u);
  EXPECT_FALSE(fm.fileSizeAtPath(fm.pendingPath() + "/gone"));
}

TEST(CrashReportFolders, LegacyTreeIsDeletedAndRebuilt) {
  Tree tree;
  auto& fm = tree.manager;
  tree.report(fm.activePath(), "old");
  fm.removeLegacyDirectories();
  EXPECT_TRUE(exists(fm.activePath() + "/old"));
  writeFile(fm.rootPath() + "/sendable", "");
  fm.removeLegacyDirectories();
  EXPECT_FALSE(exists(fm.structurePath()));
  EXPECT_TRUE(fm.prepareForNewLaunch());
  EXPECT_TRUE(fm.activePathContents().empty());
  auto made = fm.setupNewPathForExecutionIdentifier("fedcba9876543210fedcba9876543210");
  ASSERT_TRUE(made);
  EXPECT_TRUE(exists(*made));
}

TEST(CrashReportFolders, AnotherRunsLiveFolderIsRecognisedUntilItsLockGoes) {
  Tree tree;
  std::string folder = tree.report(tree.manager.activePath(), "live");
  EXPECT_FALSE(CRKFileManager::isReportFolderLive(folder));
  int fd = CRKFileManager::lockReportFolder(folder);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(CRKFileManager::lockReportFolder(folder), -1);
  pid_t child = fork();
  if (child == 0) _exit(CRKFileManager::isReportFolderLive(folder) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(crashtest::exitedWith(status, 0, {{1, "the locked folder did not read as live"}}));
  EXPECT_TRUE(CRKFileManager::isReportFolderLive(folder));
  ::close(fd);
  EXPECT_FALSE(CRKFileManager::isReportFolderLive(folder));
  EXPECT_EQ(tree.manager.contentsOfDirectory(folder), std::vector<std::string>{folder + "/metadata.crkrecord"});

  // Only a lock file of its own is taken: what a link at its name points to is never written.
  const std::string mine = tree.manager.rootPath() + "/mine", linked = tree.report(tree.manager.activePath(), "linked");
  writeFile(mine, "mine");
  ASSERT_EQ(::symlink(mine.c_str(), (linked + "/.live.lock").c_str()), 0);
  EXPECT_EQ(CRKFileManager::lockReportFolder(linked), -1);
  EXPECT_FALSE(CRKFileManager::isReportFolderLive(linked));
  EXPECT_EQ(crashtest::run("cat '" + mine + "'"), "mine");
}

TEST(CrashReports, WhichFilesNeedSubmissionAndMakeACrash) {
  Tree tree;
  auto report = CRKInternalReport::reportWithPath(tree.report(tree.manager.activePath(), "r"));
  ASSERT_TRUE(report);
  writeFile(report->pathForContentFile("log_a.crkrecord"), "{}\n");
  writeFile(report->pathForContentFile("user_incremental_kv.crkrecord"), "{}\n");
  writeFile(report->pathForContentFile("sdk.log"), "x");
  EXPECT_FALSE(report->needsToBeSubmitted());
  EXPECT_FALSE(report->isCrash());
  writeFile(report->pathForContentFile("errors_b.crkrecord"), "{}\n");
  EXPECT_TRUE(report->needsToBeSubmitted());
  EXPECT_FALSE(report->isCrash());
  writeFile(report->pathForContentFile("mach_exception.crkrecord"), "{}\n");
  EXPECT_TRUE(report->isCrash());
  std::vector<std::string> files;
  report->enumerateSymbolicatableFilesInContent([&](const std::string& path) { files.push_back(path); });
  EXPECT_EQ(files, (std::vector<std::string>{report->path() + "/exception.crkrecord",
                                             report->path() + "/mach_exception.crkrecord",
                                             report->path() + "/signal.crkrecord"}));
}

TEST(CrashReports, MetadataValuesAndDamagedMetadata) {
  Tree tree;
  auto report = CRKInternalReport::reportWithPath(tree.report(tree.manager.activePath(), "full"));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->APIKey(), "key-1");
  EXPECT_EQ(report->dateCreated(), 1700000000u);
  EXPECT_EQ(report->OSVersion(), "6.8.0");
  EXPECT_EQ(report->OSBuildVersion(), "#1 SMP");
  EXPECT_EQ(report->bundleVersion(), "412");
  EXPECT_EQ(report->bundleShortVersionString(), "2.3");
  CRKReport view(report);
  EXPECT_EQ(view.crashedOnDate(), 1700000000u);

  // A run that died before writing its identity keeps its report, named by its folder.
  auto early = CRKInternalReport::reportWithPath(
      tree.report(tree.manager.activePath(), "aaaabbbbccccddddeeeeffff00001111", nullptr));
  ASSERT_TRUE(early);
  EXPECT_EQ(early->identifier(), "aaaabbbbccccddddeeeeffff00001111");
  EXPECT_FALSE(early->APIKey());

  // Torn and foreign lines: only the values whose records are whole.
  auto torn = CRKInternalReport::reportWithPath(tree.report(
      tree.manager.activePath(), "torn",
      "{\"identity\":{\"session_id\":7,\"started_at\":-3}}\n{\"host\":[1,2]}\n{\"application\":{\"build_vers"));
  ASSERT_TRUE(torn);
  EXPECT_EQ(torn->identifier(), "torn");
  EXPECT_FALSE(torn->dateCreated());
  EXPECT_FALSE(torn->OSVersion());
  EXPECT_FALSE(torn->bundleVersion());

  EXPECT_FALSE(CRKInternalReport::reportWithPath(""));
  EXPECT_FALSE(CRKInternalReport::reportWithPath("/x", ""));
  EXPECT_EQ(CRKInternalReport::reportWithPath("/x", "id")->identifier(), "id");
}

TEST(CrashReports, ValuesSetOnAnEarlierReportGoToItsOwnStores) {
  crashtest::contextReportFolder();
  Tree tree;
  auto report = std::make_shared<CRKReport>(
      CRKInternalReport::reportWithPath(tree.report(tree.manager.activePath(), "earlier")));
  report->setObjectValue("blue", "colour");
  report->setUserEmail("a@example.org");
  std::string folder = report->internalReport()->path();
  auto user = CRKUserLoggingReadKeyValueFiles((folder + "/user_compacted_kv.crkrecord").c_str(),
                                              (folder + "/user_incremental_kv.crkrecord").c_str());
  EXPECT_EQ(user[hex("colour")], hex("blue"));
  auto internal = CRKUserLoggingReadKeyValueFiles((folder + "/internal_compacted_kv.crkrecord").c_str(),
                                                  (folder + "/internal_incremental_kv.crkrecord").c_str());
  EXPECT_EQ(internal[hex("org.orrery.telemetry.user-email")], hex("a@example.org"));
  EXPECT_EQ(CRKUserLoggingReadKeyValues(CRKUserLoggingUserStore()).count(hex("colour")), 0u);
}

}  // namespace
