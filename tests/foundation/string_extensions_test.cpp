#include "foundation/dictionary_extensions.h"
#include "foundation/string_extensions.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace {

using namespace orrery;

TEST(FileNameTest, WhitespaceSymbolsColonsAndSlashesGo) {
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght("Plan 2024: Q1/Q2 review", 20), "Plan2024Q1Q2review");
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(QString(40, 'a'), 20), QString(20, 'a'));
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght("a.b-c\n\td", 20), "a.b-cd");
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(QString::fromUtf8("$+\xe2\x82\xac\xe2\x88\x91\xf0\x9f\x98\x80"), 20), "");
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(QString::fromUtf8("Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"), 20),
            QString::fromUtf8("Caf\xc3\xa9\xe6\x97\xa5\xe6\x9c\xac"));
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght("abc", 0), "");
}

TEST(FileNameTest, CutsOnlyBetweenWholeCharacters) {
  // U+20000 is a letter outside the basic plane: two UTF-16 units.
  const QString wide = QString::fromUtf8("ab\xf0\xa0\x80\x80" "c");
  ASSERT_EQ(wide.size(), 5);
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(wide, 3), "ab");
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(wide, 4), QString::fromUtf8("ab\xf0\xa0\x80\x80"));
  // A lone surrogate is not a character and is dropped.
  QString lone = "x";
  lone += QChar(0xD800);
  lone += "y";
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(lone, 10), "xy");
  // Non-characters and unassigned code points go too.
  EXPECT_EQ(stringext::createProperFileNameWithMaxLenght(QString("a") + QChar(0xFFFF) + QChar(0x0378) + "b", 10), "ab");
}

TEST(StringExtensionsTest, UrlEncodingOfUtf8Bytes) {
  EXPECT_EQ(stringext::urlencode("a b&c"), "a+b%26c");
  EXPECT_EQ(stringext::urlencode(QString::fromUtf8("\xc3\xa9")), "%C3%A9");
  EXPECT_EQ(stringext::urlencode("A-z_0.9~"), "A-z_0.9~");
  EXPECT_EQ(stringext::urlencode("/?="), "%2F%3F%3D");
}

TEST(StringExtensionsTest, XmlEscapingEscapesEachCharacterOnce) {
  EXPECT_EQ(stringext::xmlSimpleEscapeString("<a & \"b\">'"), "&lt;a &amp; &quot;b&quot;&gt;&#x27;");
  EXPECT_EQ(stringext::xmlSimpleEscapeString("&amp;"), "&amp;amp;");
  QString text = "x<y";
  EXPECT_EQ(&stringext::xmlSimpleEscape(text), &text);
  EXPECT_EQ(text, "x&lt;y");
}

TEST(StringExtensionsTest, ComparisonsAndSearches) {
  EXPECT_TRUE(stringext::areEqual(QString(), QString()));
  EXPECT_FALSE(stringext::areEqual(QString(), QString("")));
  EXPECT_FALSE(stringext::areEqual(QString(""), QString()));
  EXPECT_TRUE(stringext::areEqual("a", "a"));
  EXPECT_FALSE(stringext::areEqual("a", "A"));

  EXPECT_TRUE(stringext::endsWith("map.orrery", ".orrery"));
  EXPECT_FALSE(stringext::endsWith("map.ORRERY", ".orrery"));
  EXPECT_FALSE(stringext::endsWith("y", "xy"));
  EXPECT_TRUE(stringext::endsWith("y", ""));

  EXPECT_TRUE(stringext::containsStringBackport("mind map", "d m"));
  EXPECT_FALSE(stringext::containsStringBackport("mind map", ""));
  EXPECT_FALSE(stringext::containsStringBackport("mind map", "Map"));
}

TEST(StringExtensionsTest, PathsAndCase) {
  EXPECT_EQ(stringext::concatPath("/tmp/", "/x.txt"), "/tmp/x.txt");
  EXPECT_EQ(stringext::concatPath("/tmp", "a/b"), "/tmp/a/b");
  EXPECT_EQ(stringext::concatPath("/", "a"), "/a");
  EXPECT_EQ(stringext::concatPath("", "a"), "a");
  EXPECT_EQ(stringext::concatPath("a", ""), "a");

  EXPECT_EQ(stringext::camelcaseString("IdeaDocumentDataObject"), "ideaDocumentDataObject");
  EXPECT_EQ(stringext::capitalizeFirstLetterString("ideaDocument"), "IdeaDocument");
  EXPECT_EQ(stringext::camelcaseString(""), "");
}

TEST(DictionaryExtensionsTest, RectanglesRoundTripThroughTheirTextForm) {
  QVariantMap state;
  const QRectF frame(10.5, -20, 1024, 720.25);
  dictext::setRect(state, frame, "frame");
  EXPECT_EQ(state.value("frame").toString(), "{{10.5, -20}, {1024, 720.25}}");
  EXPECT_EQ(dictext::rectForKey(state, "frame"), frame);
  EXPECT_EQ(dictext::rectForKey(state, "missing"), QRectF());
  EXPECT_EQ(dictext::rectFromString("{{1, 2}, {3}}"), QRectF(1, 2, 3, 0));
  const QRectF awkward(0.1, 1e-7, 3.0e10, 1.0 / 3.0);
  EXPECT_EQ(dictext::rectFromString(dictext::stringFromRect(awkward)), awkward);
}

}  // namespace
