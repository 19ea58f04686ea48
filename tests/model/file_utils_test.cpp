#include "model/file_utils.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using orrery::FileUtil;

class FileUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setStandardFolderOverride(platform::StandardFolder::Temporary, mTemp.path());
    platform::setStandardFolderOverride(platform::StandardFolder::Caches, mTemp.filePath("cache"));
  }
  void TearDown() override {
    platform::setStandardFolderOverride(platform::StandardFolder::Temporary, {});
    platform::setStandardFolderOverride(platform::StandardFolder::Caches, {});
  }

  static void write(const QString& path, const QByteArray& content = "x") {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  static void cleanAndWait() {
    std::promise<void> finished;
    FileUtil::cleanTemporaryFilesDuringStartup([&finished] { finished.set_value(); });
    finished.get_future().wait();
  }

  static void cleanHandOffAndWait() {
    std::promise<void> finished;
    FileUtil::cleanHandOffFilesDuringStartup([&finished] { finished.set_value(); });
    finished.get_future().wait();
  }
  // Dates the entry itself (not what a link points to) `age` back.
  static void age(const QString& path, std::chrono::hours age) {
    const auto then = std::chrono::system_clock::now() - age;
    const timespec when{std::chrono::system_clock::to_time_t(then), 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
  }

  QTemporaryDir mTemp;
};

TEST_F(FileUtilTest, StagingFoldersAreFreshAndShareTheRunFolder) {
  const QString scratch = FileUtil::temporaryDirectoryForOrrery();
  ASSERT_FALSE(scratch.isEmpty());
  EXPECT_EQ(QFileInfo(scratch).fileName(), "orrery_temp");
  EXPECT_EQ(QFileInfo(scratch).absolutePath(), platform::privateTemporaryFolder());
  EXPECT_TRUE(scratch.startsWith(mTemp.path()));

  const QString first = FileUtil::temporaryDirectoryForFile();
  const QString second = FileUtil::temporaryDirectoryForFile();
  ASSERT_FALSE(first.isEmpty());
  ASSERT_FALSE(second.isEmpty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(QFileInfo(first).isDir());
  EXPECT_TRUE(QFileInfo(second).isDir());
  EXPECT_EQ(QFileInfo(first).absolutePath(), QFileInfo(second).absolutePath());
  EXPECT_EQ(QFileInfo(QFileInfo(first).absolutePath()).fileName(), FileUtil::uniqueOrrerySession());
  EXPECT_EQ(FileUtil::uniqueOrrerySession(), FileUtil::uniqueOrrerySession());
  EXPECT_EQ(FileUtil::uniqueOrrerySession().size(), 36);
}

TEST_F(FileUtilTest, CreatingFoldersIncludingExistingOnesAndFailures) {
  const QString made = FileUtil::createDirectory("a/b", mTemp.path());
  EXPECT_EQ(made, QDir(mTemp.path()).filePath("a/b"));
  EXPECT_TRUE(QFileInfo(made).isDir());
  EXPECT_EQ(FileUtil::createDirectory("a/b", mTemp.path()), made);
  write(mTemp.filePath("plain"));
  EXPECT_TRUE(FileUtil::createDirectory("inside", mTemp.filePath("plain")).isEmpty());
  EXPECT_TRUE(FileUtil::createDirectory("x", QString()).isEmpty());
}

TEST_F(FileUtilTest, NoStagingWithoutAPrivateTemporaryFolder) {
  // Someone planted a link where the private folder belongs: nothing is staged there.
  QTemporaryDir other;
  const QString privatePath = QDir(mTemp.path()).filePath(QStringLiteral("orrery-%1").arg(::getuid()));
  ASSERT_TRUE(QFile::link(other.path(), privatePath));
  EXPECT_TRUE(FileUtil::temporaryDirectoryForOrrery().isEmpty());
  EXPECT_TRUE(FileUtil::temporaryDirectoryForFile().isEmpty());
  cleanAndWait();
  EXPECT_TRUE(QDir(other.path()).isEmpty());
}

TEST_F(FileUtilTest, StartUpCleanUpEmptiesVisibleEntriesOnly) {
  const QString scratch = FileUtil::temporaryDirectoryForOrrery();
  write(scratch + "/OLD-RUN/STAGE/web/index.html");
  write(scratch + "/loose.txt");
  write(scratch + "/.hidden/keep.txt");
  write(scratch + "/.keep");
  const QString mine = FileUtil::temporaryDirectoryForFile();

  cleanAndWait();
  const QStringList left = QDir(scratch).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  EXPECT_EQ(left, (QStringList{".hidden", ".keep", FileUtil::uniqueOrrerySession()}));
  EXPECT_TRUE(QFile::exists(scratch + "/.hidden/keep.txt"));
  EXPECT_TRUE(QFileInfo(mine).isDir());  // this run's staging survives
}

TEST_F(FileUtilTest, StartUpCleanUpNeverFollowsSymbolicLinks) {
  QTemporaryDir outside;
  write(outside.filePath("precious.txt"), "keep me");
  write(outside.filePath("sub/also.txt"), "keep me too");
  const QString scratch = FileUtil::temporaryDirectoryForOrrery();
  ASSERT_TRUE(QDir().mkpath(scratch + "/OLD-RUN"));
  ASSERT_TRUE(QFile::link(outside.path(), scratch + "/link-to-folder"));
  ASSERT_TRUE(QFile::link(outside.filePath("precious.txt"), scratch + "/OLD-RUN/link-to-file"));
  ASSERT_TRUE(QFile::link(outside.filePath("sub"), scratch + "/OLD-RUN/nested-link"));
  ASSERT_TRUE(QFile::link(mTemp.filePath("nowhere"), scratch + "/dangling"));

  cleanAndWait();
  EXPECT_TRUE(QDir(scratch).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).isEmpty());
  EXPECT_TRUE(QFile::exists(outside.filePath("precious.txt")));
  EXPECT_TRUE(QFile::exists(outside.filePath("sub/also.txt")));
}

TEST_F(FileUtilTest, AScratchFolderThatIsALinkIsNotEntered) {
  QTemporaryDir outside;
  write(outside.filePath("precious.txt"));
  const QString scratch = FileUtil::temporaryDirectoryForOrrery();
  ASSERT_TRUE(QFile::link(outside.path(), scratch));
  cleanAndWait();
  EXPECT_TRUE(QFile::exists(outside.filePath("precious.txt")));
}

TEST_F(FileUtilTest, MissingScratchFolderIsNothingToClean) {
  EXPECT_FALSE(QFileInfo::exists(FileUtil::temporaryDirectoryForOrrery()));
  cleanAndWait();
  EXPECT_FALSE(QFileInfo::exists(FileUtil::temporaryDirectoryForOrrery()));
}

TEST_F(FileUtilTest, HandedOffFilesOutliveTheStartsCleanUpUntilAWeekHasPassed) {
  using std::chrono::hours;
  const QString first = FileUtil::handOffDirectoryForFile();
  const QString second = FileUtil::handOffDirectoryForFile();
  ASSERT_FALSE(first.isEmpty());
  ASSERT_NE(first, second);
  const QString root = FileUtil::handOffDirectory();
  EXPECT_EQ(root, mTemp.filePath("cache/mail"));
  EXPECT_EQ(QFileInfo(first).absolutePath(), root);
  const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                      QFile::WriteOther | QFile::ExeOther;
  EXPECT_FALSE(QFileInfo(root).permissions() & others) << "others may read the exported maps";
  write(first + "/Solar.pdf");
  write(second + "/Old.pdf");
  age(second, FileUtil::kHandOffKeptFor + hours(1));
  const QString lastWeek = FileUtil::handOffDirectoryForFile();
  age(lastWeek, FileUtil::kHandOffKeptFor - hours(1));
  QTemporaryDir outside;
  write(outside.filePath("precious.txt"));
  ASSERT_TRUE(QFile::link(outside.path(), root + "/old-link"));
  age(root + "/old-link", FileUtil::kHandOffKeptFor + hours(1));

  cleanAndWait();  // the scratch folder's emptying at a start leaves them
  EXPECT_TRUE(QFile::exists(first + "/Solar.pdf"));
  EXPECT_TRUE(QFile::exists(second + "/Old.pdf"));
  cleanHandOffAndWait();
  EXPECT_TRUE(QFile::exists(first + "/Solar.pdf"));
  EXPECT_TRUE(QFileInfo(lastWeek).isDir());
  EXPECT_FALSE(QFileInfo::exists(second));
  EXPECT_FALSE(QFileInfo(root + "/old-link").isSymLink());
  EXPECT_TRUE(QFile::exists(outside.filePath("precious.txt")));
}

TEST_F(FileUtilTest, AHandOffFolderThatIsALinkIsNeitherUsedNorEntered) {
  QTemporaryDir outside;
  write(outside.filePath("old/file.txt"));
  age(outside.filePath("old"), FileUtil::kHandOffKeptFor * 2);
  ASSERT_TRUE(QDir().mkpath(mTemp.filePath("cache")));
  ASSERT_TRUE(QFile::link(outside.path(), FileUtil::handOffDirectory()));
  EXPECT_TRUE(FileUtil::handOffDirectoryForFile().isEmpty());
  cleanHandOffAndWait();
  EXPECT_TRUE(QFile::exists(outside.filePath("old/file.txt")));
  EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"old"});
}

TEST_F(FileUtilTest, NoHandOffFolderIsNothingToClean) {
  cleanHandOffAndWait();
  EXPECT_FALSE(QFileInfo::exists(FileUtil::handOffDirectory()));
}

}  // namespace
