#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::StandardFolder;

class StandardFoldersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto kind : {StandardFolder::Config, StandardFolder::ApplicationSupport, StandardFolder::Caches,
                      StandardFolder::Temporary})
      platform::setStandardFolderOverride(kind, {});
  }
  QTemporaryDir mRoot;
};

mode_t modeOf(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
  return st.st_mode;
}

TEST_F(StandardFoldersTest, DefaultsFollowTheXdgVariablesAndOverridesReplaceThem) {
  // The test main points XDG_CONFIG_HOME and friends at a fresh folder.
  EXPECT_TRUE(platform::configFolder().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
  EXPECT_TRUE(platform::applicationSupportFolder().startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
  EXPECT_TRUE(platform::cachesFolder().startsWith(qEnvironmentVariable("XDG_CACHE_HOME")));

  platform::setStandardFolderOverride(StandardFolder::Config, mRoot.filePath("cfg"));
  EXPECT_EQ(platform::configFolder(), mRoot.filePath("cfg"));
  platform::setStandardFolderOverride(StandardFolder::Config, {});
  EXPECT_TRUE(platform::configFolder().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
}

TEST_F(StandardFoldersTest, ARelativeOrEmptyVariableIsIgnoredForTheFolderUnderHome) {
  const struct {
    StandardFolder kind;
    const char* variable;
    QString fallback;
  } cases[] = {
      {StandardFolder::Config, "XDG_CONFIG_HOME", QDir::homePath() + "/.config/"},
      {StandardFolder::ApplicationSupport, "XDG_DATA_HOME", QDir::homePath() + "/.local/share/"},
      {StandardFolder::Caches, "XDG_CACHE_HOME", QDir::homePath() + "/.cache/"},
      {StandardFolder::Temporary, "TMPDIR", QStringLiteral("/tmp")},
  };
  for (const auto& c : cases) {
    const QByteArray saved = qgetenv(c.variable);
    for (const char* value : {"relative/folder", "./here", ""}) {
      qputenv(c.variable, value);
      EXPECT_TRUE(platform::standardFolder(c.kind).startsWith(c.fallback))
          << c.variable << "=" << value << " gave " << platform::standardFolder(c.kind).toStdString();
    }
    qputenv(c.variable, mRoot.filePath("absolute").toUtf8());
    EXPECT_TRUE(platform::standardFolder(c.kind).startsWith(mRoot.filePath("absolute"))) << c.variable;
    qputenv(c.variable, saved);
  }
}

TEST_F(StandardFoldersTest, PrivateTemporaryFolderIsOwnedAndClosedToOthers) {
  platform::setStandardFolderOverride(StandardFolder::Temporary, mRoot.path());
  const QString folder = platform::privateTemporaryFolder();
  ASSERT_FALSE(folder.isEmpty());
  EXPECT_TRUE(folder.startsWith(mRoot.path()));
  EXPECT_TRUE(S_ISDIR(modeOf(folder)));
  EXPECT_EQ(modeOf(folder) & 0777, 0700u);

  // Loose permissions left by someone are tightened on the next request.
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
  EXPECT_EQ(platform::privateTemporaryFolder(), folder);
  EXPECT_EQ(modeOf(folder) & 0777, 0700u);
}

TEST_F(StandardFoldersTest, SymbolicLinkPlantedInPlaceOfThePrivateFolderIsRefused) {
  platform::setStandardFolderOverride(StandardFolder::Temporary, mRoot.path());
  const QString expected = QDir(mRoot.path()).filePath(QStringLiteral("orrery-%1").arg(::geteuid()));
  const QString elsewhere = mRoot.filePath("elsewhere");
  ASSERT_TRUE(QDir().mkpath(elsewhere));
  ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0755), 0);
  ASSERT_TRUE(QFile::link(elsewhere, expected));
  EXPECT_TRUE(platform::privateTemporaryFolder().isEmpty());
  EXPECT_EQ(modeOf(elsewhere) & 0777, 0755u);  // the link's target was left alone
  EXPECT_TRUE(S_ISLNK(modeOf(expected)));

  // A plain file in its place is refused too.
  ASSERT_TRUE(QFile::remove(expected));
  QFile file(expected);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_TRUE(platform::privateTemporaryFolder().isEmpty());
}

TEST_F(StandardFoldersTest, AFolderOwnedBySomeoneElseIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  platform::setStandardFolderOverride(StandardFolder::Temporary, mRoot.path());
  const QString folder = platform::privateTemporaryFolder();
  ASSERT_FALSE(folder.isEmpty());
  ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 4321, 4321), 0);
  EXPECT_TRUE(platform::privateTemporaryFolder().isEmpty());
}

}  // namespace
