#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <locale>
#include <string>
#include <vector>

#include "sdk/core/property_list.h"

using namespace telemetry;
using nlohmann::json;

TEST(PropertyList, WritesTheConventionalXMLForm) {
  json v = {{"name", "a<b & c>"}, {"count", 42}, {"on", true}, {"list", json::array({1.5, "x"})}, {"empty", json::object()}};
  EXPECT_EQ(plist::serialize(v),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n"
            "<dict>\n"
            "\t<key>count</key>\n\t<integer>42</integer>\n"
            "\t<key>empty</key>\n\t<dict/>\n"
            "\t<key>list</key>\n\t<array>\n\t\t<real>1.5</real>\n\t\t<string>x</string>\n\t</array>\n"
            "\t<key>name</key>\n\t<string>a&lt;b &amp; c&gt;</string>\n"
            "\t<key>on</key>\n\t<true/>\n"
            "</dict>\n"
            "</plist>\n");
}

TEST(PropertyList, RoundTripsEveryKindOfValue) {
  json v = {{"s", "héllo \"quoted\" 'single' <tag> &amp;"},
            {"i", -9007199254740993LL},
            {"u", 18446744073709551615ULL},
            {"r", 0.1},
            {"t", true},
            {"f", false},
            {"d", json::binary({0, 1, 2, 250, 251, 255, 7})},
            {"e", json::binary({})},
            {"nested", {{"a", json::array({json::object(), json::array(), "", json::array({1, 2})})}}},
            {"", "empty key"}};
  auto back = plist::parse(plist::serialize(v));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, v);
  EXPECT_EQ((*back)["r"].get<double>(), 0.1);
  // Null has no property-list form and is left out.
  auto withNull = plist::parse(plist::serialize({{"keep", 1}, {"drop", nullptr}}));
  EXPECT_EQ(*withNull, json({{"keep", 1}}));
}

// XML 1.0 text holds no NUL, no other C0 control but tab and line feed, and no U+FFFE or U+FFFF,
// and reads a carriage return as a line feed: every such string, as a value and as a key, must
// still read back as it was written.
TEST(PropertyList, RoundTripsStringsXMLTextCannotHold) {
  using namespace std::string_literals;
  std::vector<std::string> strings = {"\r\n\r", "a\0b"s, "\t\n"};
  std::string allControls;
  for (int c = 0; c < 0x20; ++c) {
    strings.push_back(std::string(1, char(c)));
    strings.push_back("x" + std::string(1, char(c)) + "&<" + std::string(1, char(c)));
    allControls += char(c);
  }
  strings.push_back(allControls);
  // The private-use characters that stand for such bytes, the non-characters, and bytes that are not UTF-8.
  strings.insert(strings.end(), {"\xEE\x80\x80", "\xEE\x83\xBF\x01", "\xEF\xBF\xBE\xEF\xBF\xBF", "\xEE\x83\x83\xC2\xA0",
                                 "\x7F\xC2\x80\xF0\x9F\x8C\x8D"});
  for (const std::string& text : strings) {
    const json value = {{text, text}, {"list", json::array({text})}};
    std::string error;
    const auto back = plist::parse(plist::serialize(value), &error);
    ASSERT_TRUE(back.has_value()) << testing::PrintToString(text) << ": " << error;
    EXPECT_EQ(*back, value) << testing::PrintToString(text);
  }
  // Another writer's private-use character that stands for no UTF-8 byte sequence is read as it is,
  // and bytes that are no text are written as U+FFFD: what is read is always UTF-8.
  EXPECT_EQ(plist::parse("<string>\xEE\x83\x83</string>"), json("\xEE\x83\x83"));
  EXPECT_EQ(plist::parse(plist::serialize(json::array({"caf\xC3", "\xED\xA0\x80\x01"}))),
            json::array({"caf\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\x01"}));
}

// Restores the process's locale, which the test below switches to one that writes "1,5".
class CommaDecimalLocale {
 public:
  CommaDecimalLocale() : mSaved(std::setlocale(LC_ALL, nullptr)), mSavedGlobal(std::locale()) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name)) {
        std::locale::global(std::locale(name));
        mName = name;
        return;
      }
    }
  }
  ~CommaDecimalLocale() {
    std::locale::global(mSavedGlobal);
    std::setlocale(LC_ALL, mSaved.c_str());
  }
  const std::string& name() const { return mName; }

 private:
  std::string mSaved;
  std::locale mSavedGlobal;
  std::string mName;
};

TEST(PropertyList, WritesAndReadsNumbersAlikeUnderACommaDecimalLocale) {
  CommaDecimalLocale locale;
  if (locale.name().empty()) GTEST_SKIP() << "no comma-decimal locale installed (scripts/install-deps.sh makes de_DE.UTF-8)";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",") << locale.name();
  const json numbers = json::array({1.5, 0.1, -2.5e-300, 1e21, 4.9e-324, -0.0, 1234567, -42, 18446744073709551615ULL});
  const std::string text = plist::serialize(numbers);
  EXPECT_NE(text.find("<real>1.5</real>"), std::string::npos) << text;
  EXPECT_NE(text.find("<integer>1234567</integer>"), std::string::npos) << text;
  const auto back = plist::parse(text);
  ASSERT_TRUE(back.has_value()) << text;
  EXPECT_EQ(*back, numbers);
  std::string error;
  EXPECT_EQ(plist::parse("<array><real>1.5</real><real> -2.5e3 </real><real>+7</real></array>", &error),
            json::array({1.5, -2500.0, 7.0}))
      << error;
  EXPECT_FALSE(plist::parse("<real>1,5</real>").has_value());
}

TEST(PropertyList, ReadsWhatOtherWritersProduce) {
  const char* text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- written by hand -->
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>Telemetry</key>
  <dict>
    <key>APIKey</key><string><![CDATA[a<b]]>&#x41;&#66;&quot;&apos;</string>
    <key>Kits</key><array/>
  </dict>
  <key>hex</key><integer> 0x1F </integer>
  <key>when</key><date>2024-01-02T03:04:05Z</date>
  <key>blob</key><data>
    AAEC
    +v8=
  </data>
  <key>neg</key><real>-2.5e3</real>
  <key>empty</key><string/>
  <key>yes</key><true></true>
</dict>
</plist>
)";
  std::string error;
  auto v = plist::parse(text, &error);
  ASSERT_TRUE(v.has_value()) << error;
  EXPECT_EQ((*v)["Telemetry"]["APIKey"], "a<bAB\"'");
  EXPECT_EQ((*v)["Telemetry"]["Kits"], json::array());
  EXPECT_EQ((*v)["hex"], 31);
  EXPECT_EQ((*v)["when"], "2024-01-02T03:04:05Z");
  EXPECT_EQ((*v)["blob"].get_binary(), std::vector<uint8_t>({0, 1, 2, 0xfa, 0xff}));
  EXPECT_EQ((*v)["neg"], -2500.0);
  EXPECT_EQ((*v)["empty"], "");
  EXPECT_EQ((*v)["yes"], true);
}

// What XML allows besides the conventional layout: markup characters inside attribute values,
// space inside tags, comments anywhere, other encodings declared or marked by a byte order mark.
TEST(PropertyList, ReadsTheXMLThatAnyWriterMayProduce) {
  using namespace std::string_literals;
  const struct {
    std::string xml;
    json expected;
  } cases[] = {
      {R"(<plist version="1.0" comment="1 > 0"><string>x</string></plist>)", "x"},
      {R"(<string note='a/>'>x</string>)", "x"},
      {"<dict ><key >k</key ><integer\n>1</integer ></dict\t>", json({{"k", 1}})},
      {"<dict><key>a</key><!-- </dict> --><string>b</string></dict>", json({{"a", "b"}})},
      {"<string>a<!-- > -->b<?pi > ?>c</string>", "abc"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><string>caf\xe9</string>", "caf\xc3\xa9"},
      {"\xff\xfe<\0s\0t\0r\0i\0n\0g\0>\0\xe9\0<\0/\0s\0t\0r\0i\0n\0g\0>\0"s, "\xc3\xa9"},
      {"<!DOCTYPE plist [ <!ATTLIST plist version CDATA '1.0'> ]><plist><true/></plist>", true},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto v = plist::parse(c.xml, &error);
    ASSERT_TRUE(v.has_value()) << c.xml << ": " << error;
    EXPECT_EQ(*v, c.expected) << c.xml;
  }
}

TEST(PropertyList, RefusesMalformedTextWithoutCrashing) {
  for (const char* bad : {"", "<plist>", "<plist><dict><key>a</key></dict></plist>", "<dict><string>x</string></dict>",
                          "<integer>12x</integer>", "<integer>99999999999999999999999</integer>", "<real>abc</real>",
                          "<data>abc</data>", "<string>&bogus;</string>", "<string>&#0;</string>", "<string>&#xD800;</string>",
                          "<string>unterminated", "<unknown/>", "<dict></array>",
                          "<string>a</string><string>b</string>",
                          "<string>a<b/></string>", "<plist><string>a</string><string>b</string></plist>",
                          "<array><key>k</key></array>", "<true>yes</true>", "<dict>text</dict>",
                          // Entities are never declared in a property list: no expansion bomb gets read.
                          "<!DOCTYPE plist [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;'>]><string>&b;</string>",
                          "<!DOCTYPE plist SYSTEM 'x.dtd'><string>&undeclared;</string>"}) {
    std::string error;
    EXPECT_FALSE(plist::parse(bad, &error).has_value()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  // Hostile nesting is refused, not recursed into until the stack runs out.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  EXPECT_FALSE(plist::parse(deep).has_value());
  // Every prefix of a valid document either parses or is refused.
  const std::string whole = plist::serialize({{"a", json::array({1, "two", json::binary({3})})}, {"b", {{"c", true}}}});
  for (size_t n = 0; n < whole.size(); ++n) plist::parse(std::string_view(whole).substr(0, n));
}
