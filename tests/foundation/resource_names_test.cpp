// Every text key and every picture name the program asks for exists in the resources: read
// from the sources, so a new key or picture without its entry fails here, not on screen.

#include "foundation/image_extensions.h"
#include "platform/services/localization.h"
#include "platform/services/resources.h"
#include "source_references.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString kResources = QStringLiteral(ORRERY_TEST_RESOURCES_DIR);

// The crash reporter and the SDK keep their own tables.
const std::vector<sourcerefs::SourceFile>& sources() {
  static const auto files = sourcerefs::readSources(QDir::cleanPath(kResources + "/../src"), {"crash", "sdk"});
  return files;
}

QStringList emojiCategories() {
  QFile file(platform::pathForResource("emoji_list", "txt"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  QStringList names;
  for (const QByteArray& line : file.readAll().split('\n'))
    if (line.startsWith('#')) names << QString::fromUtf8(line.mid(1)).trimmed();
  return names;
}

// Names made at run time, by the file and argument that ask for them.
using DynamicNames = std::map<std::pair<QString, QString>, QStringList>;

QStringList namesOf(const sourcerefs::Findings& found, const DynamicNames& dynamic) {
  QStringList names(found.names.begin(), found.names.end());
  for (const auto& use : found.dynamic) {
    const auto listed = dynamic.find({use.file, use.expression});
    EXPECT_NE(listed, dynamic.end()) << "a name made at run time needs its list here: " << use.file.toStdString()
                                     << ": " << use.expression.toStdString();
    if (listed != dynamic.end()) names += listed->second;
  }
  names.sort();
  names.removeDuplicates();
  return names;
}

}  // namespace

TEST(ResourceNames, EveryTextKeyTheCodeUsesHasAnEntry) {
  const auto found = sourcerefs::findNames(sources(), {{"localizedString", 0, nullptr}});
  const QStringList keys = namesOf(found, {{{"panels/icon_image_tab_view.cpp", "category"}, emojiCategories()},
                                           {{"graph/graph_scroll_view.cpp", "title"}, {"Zoom In", "Zoom Out", "Zoom to Fit"}}});
  // The reading itself works: keys behind constants, helpers of helpers and constructors.
  for (const char* key : {"Choice.MoveHere", "Choice.CreateLink", "mac:Error:FailedToWriteFile", "Label.Created",
                          "InvalidOPMLDocument:Message", "mac:error:default", "ThemeOption.Varying"})
    EXPECT_TRUE(keys.contains(key)) << key;
  EXPECT_GT(keys.size(), 50);
  const auto table = platform::LocalizationTable::fromFile(platform::pathForResource("localizable", "txt"));
  for (const QString& key : keys) {
    EXPECT_TRUE(table.contains(key)) << "no text for " << key.toStdString();
    const QString text = table.localizedString(key, QString());
    EXPECT_FALSE(text.trimmed().isEmpty()) << key.toStdString();
    if (key.contains('.') || key.contains(':')) {
      EXPECT_NE(text, key) << "the text of a key is a word, not the key";
    }
  }
}

TEST(ResourceNames, EveryPictureTheCodeAsksForExistsAtOneAndTwoTimesItsSize) {
  auto png = [](const QStringList& arguments) { return arguments.size() > 1 && arguments[1].contains("\"png\""); };
  const auto found = sourcerefs::findNames(
      sources(), {{"deviceImageNamed", 0, nullptr}, {"imageWithName", 0, nullptr}, {"pathForResource", 0, png}});
  const QStringList names = namesOf(found, {{{"app/preferences_panes.cpp", "name"}, {"cloud", "sync", "error"}},
                                            {{"shell/top_bar_view.cpp", "shell->cloudIconName()"}, {"cloud", "sync", "error"}}});
  for (const char* name : {"checkbox_x", "pdf_icon_inactive", "bg_pattern", "plus_on_circle", "home_view_plus_active",
                           "arrow_left_active", "drop_here_no", "prefs_general", "cloud"})
    EXPECT_TRUE(names.contains(name)) << name;
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QString one = QDir(kResources).filePath(name + ".png"), two = QDir(kResources).filePath(name + "@2x.png");
    ASSERT_TRUE(QFileInfo::exists(one));
    ASSERT_FALSE(orrery::imageext::deviceImageNamed(name).isNull());
    ASSERT_TRUE(QFileInfo::exists(two)) << "no 2x picture";
    const QSize small = QImageReader(one).size(), large = QImageReader(two).size();
    EXPECT_EQ(large, small * 2);
    // The lookup answers the sharp picture at its point size.
    const QImage picture = orrery::imageext::deviceImageNamed(name);
    EXPECT_EQ(picture.size(), large);
    EXPECT_EQ(picture.devicePixelRatio(), 2.0);
    EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(small));
    EXPECT_EQ(orrery::imageext::deviceImageSizeNamed(name), QSizeF(small)) << "read from the header alone";
  }
  EXPECT_TRUE(orrery::imageext::deviceImageSizeNamed("no_such_picture").isEmpty());
}
