#include "platform/services/localization.h"
#include "platform/services/resources.h"

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

TEST(LocalizationTableTest, TheApplicationTableIsFoundAmongTheResources) {
  ASSERT_FALSE(platform::pathForResource("localizable", "txt").isEmpty());
  EXPECT_TRUE(platform::pathForResource("no_such_resource", "txt").isEmpty());
  EXPECT_GT(LocalizationTable::main().size(), 0);
  EXPECT_EQ(platform::localizedString("mac:Error:FailedToOpenFile", "x"), "Failed to open file");
}

}  // namespace
