#include "platform/services/localization.h"
#include "platform/services/resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::LocalizationTable;

TEST(LocalizationTableTest, ParsesEntriesCommentsAndEscapes) {
  const auto table = LocalizationTable::parse(
      "# comment\n"
      "\n"
      "mac:Error:FailedToOpenFile = Datei konnte nicht ge\xc3\xb6""ffnet werden\r\n"
      "Two.Lines = first\\nsecond\\\\n\n"
      "Spaces = a = b\n"
      "no separator here\n");
  EXPECT_EQ(table.size(), 3);
  EXPECT_EQ(table.localizedString("mac:Error:FailedToOpenFile", "Failed to open file"),
            QString::fromUtf8("Datei konnte nicht ge\xc3\xb6""ffnet werden"));
  EXPECT_EQ(table.localizedString("Two.Lines", {}), "first\nsecond\\n");
  EXPECT_EQ(table.localizedString("Spaces", {}), "a = b");
}

TEST(LocalizationTableTest, MissingEntriesFallBackToTheDefaultTextThenTheKey) {
  LocalizationTable table;
  EXPECT_EQ(table.localizedString("Choice.Close", "Close"), "Close");
  EXPECT_EQ(table.localizedString("Choice.Close", ""), "");
  EXPECT_EQ(table.localizedString("mac:error:default", QString()), "mac:error:default");
}

TEST(LocalizationTableTest, ATableLargerThanTheMemoryIsNotRead) {
  QTemporaryDir folder;
  QFile huge(folder.filePath("localizable.txt"));
  // Sparse: it takes no disk.
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
  huge.close();
  EXPECT_EQ(LocalizationTable::fromFile(huge.fileName()).size(), 0);
}

TEST(LocalizationTableTest, TheApplicationTableIsFoundAmongTheResources) {
  ASSERT_FALSE(platform::pathForResource("localizable", "txt").isEmpty());
  EXPECT_TRUE(platform::pathForResource("no_such_resource", "txt").isEmpty());
  EXPECT_GT(LocalizationTable::main().size(), 0);
  EXPECT_EQ(platform::localizedString("mac:Error:FailedToOpenFile", "x"), "Failed to open file");
}

// Sets ORRERY_RESOURCES_DIR for one test and restores it.
class NamedResourceFolder {
 public:
  explicit NamedResourceFolder(const QByteArray& value) : mPrevious(qgetenv("ORRERY_RESOURCES_DIR")) {
    if (value.isEmpty()) qunsetenv("ORRERY_RESOURCES_DIR");
    else qputenv("ORRERY_RESOURCES_DIR", value);
  }
  ~NamedResourceFolder() { qputenv("ORRERY_RESOURCES_DIR", mPrevious); }

 private:
  QByteArray mPrevious;
};

TEST(ResourcesTest, OnlyTheNamedFolderAndTheExecutablesNeighboursAreSearched) {
  const QString source = QDir::cleanPath(QStringLiteral(ORRERY_TEST_RESOURCES_DIR));
  {
    // Unnamed, the tree the test was built from is not searched.
    NamedResourceFolder unnamed({});
    EXPECT_FALSE(platform::resourceFolders().contains(source));
    EXPECT_TRUE(platform::pathForResource("localizable", "txt").isEmpty());
  }
  QTemporaryDir elsewhere;
  ASSERT_TRUE(elsewhere.isValid());
  QFile table(elsewhere.filePath("localizable.txt"));
  ASSERT_TRUE(table.open(QIODevice::WriteOnly));
  table.close();
  NamedResourceFolder named(elsewhere.path().toUtf8());
  ASSERT_FALSE(platform::resourceFolders().isEmpty());
  EXPECT_EQ(platform::resourceFolders().front(), QDir::cleanPath(elsewhere.path()));
  EXPECT_EQ(platform::pathForResource("localizable", "txt"), QFileInfo(table).absoluteFilePath());
  for (const QString& folder : platform::resourceFolders())
    EXPECT_TRUE(folder == QDir::cleanPath(elsewhere.path()) || !folder.startsWith(source)) << folder.toStdString();
}

}  // namespace
