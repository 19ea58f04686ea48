// The web-link field's reading of its text: states, the address loaded (web pages only) and
// the search address.

#include "panels/web_address.h"

#include <gtest/gtest.h>

using namespace orrery::webaddress;

TEST(WebAddress, TypedTextGivesTheFieldState) {
  EXPECT_EQ(stateForTypedText(""), kEmpty);
  EXPECT_EQ(stateForTypedText(" \t "), kEmpty);
  EXPECT_EQ(stateForTypedText("\n"), kSearchText) << "line breaks are not blanks here";
  EXPECT_EQ(stateForTypedText("two words"), kSearchText);
  EXPECT_EQ(stateForTypedText("word"), kSearchText);
  EXPECT_EQ(stateForTypedText("example.com"), kAddressLike);
  EXPECT_EQ(stateForTypedText("example.com/a/b?c=d&e=f"), kAddressLike);
  EXPECT_EQ(stateForTypedText("https://example.com"), kAddressLike);
  EXPECT_EQ(stateForTypedText("münchen.de"), kAddressLike) << "words of any script";
  EXPECT_EQ(stateForTypedText("東京.jp"), kAddressLike);
  EXPECT_EQ(stateForTypedText("a.b c"), kSearchText);
  EXPECT_EQ(stateForTypedText(".com"), kSearchText);
  EXPECT_EQ(stateForTypedText("file:/etc/passwd"), kAddressLike) << "address-like, but see below";
}

TEST(WebAddress, OnlyWebPagesLoad) {
  EXPECT_EQ(validURLorNil("example.com").toString(), "http://example.com");
  EXPECT_EQ(validURLorNil("HTTPS://Example.com/x?q=1").scheme(), "https");
  EXPECT_EQ(validURLorNil("münchen.de").host(), "münchen.de");
  EXPECT_TRUE(hasURLTypePrefix("Https://example.com"));
  EXPECT_FALSE(hasURLTypePrefix("file:/etc/passwd"));
  for (const char* refused : {"file:/etc/passwd", "file:///etc/passwd", "javascript:alert(1)", "ftp://example.com",
                              "myapp://open", "two words", "word", "http://", ""})
    EXPECT_FALSE(validURLorNil(QString::fromUtf8(refused)).isValid()) << refused;
}

TEST(WebAddress, WordsGoToTheSearchPageFormEncoded) {
  EXPECT_EQ(searchURL("two words").toString(QUrl::FullyEncoded), "https://www.google.com/search?q=two+words");
  EXPECT_EQ(searchURL("a&b=c ü", "127.0.0.1:8080").toString(QUrl::FullyEncoded),
            "https://127.0.0.1:8080/search?q=a%26b%3Dc+%C3%BC");
  EXPECT_EQ(actionTitle(kEmpty, false), "");
  EXPECT_EQ(actionTitle(kAddressLike, true), "Visit");
  EXPECT_EQ(actionTitle(kLoaded, false), "Add");
  EXPECT_EQ(actionTitle(kLoading, true), "Change");
  EXPECT_FALSE(showsOpenInBrowser(kSearchText));
  EXPECT_TRUE(showsOpenInBrowser(kLoaded));
}
