#include "platform/core/text_table.h"

#include <gtest/gtest.h>

namespace {

using platform::texttable::parse;

TEST(TextTableTest, SplitsAtTheFirstEqualsAndTrimsKeyAndText) {
  std::vector<std::string> skipped;
  const auto entries = parse("# comment\n"
                             "\n"
                             "  \t\r\n"
                             "Title = Send it? = yes\r\n"
                             "Key=Value  \r\n"
                             "  Spaced Key \t=\t text with \\n kept \n"
                             "no separator here\n"
                             " = no key\n"
                             "Empty =\n"
                             "Last = no final line feed",
                             &skipped);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].key, "Title");
  EXPECT_EQ(entries[0].text, "Send it? = yes");
  EXPECT_EQ(entries[1].key, "Key");
  EXPECT_EQ(entries[1].text, "Value");
  EXPECT_EQ(entries[2].key, "Spaced Key");
  EXPECT_EQ(entries[2].text, "text with \\n kept") << "escapes are left to the reader";
  EXPECT_EQ(entries[3].key, "Empty");
  EXPECT_EQ(entries[3].text, "");
  EXPECT_EQ(entries[4].text, "no final line feed");
  EXPECT_EQ(skipped, (std::vector<std::string>{"no separator here", "= no key"}));
  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse("\n\n#=x\n").empty());
}

}  // namespace
