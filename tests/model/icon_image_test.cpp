#include "model/icon_image.h"
#include "model/icon_image_collection.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"
#include "platform/services/font_catalog.h"

#include "../foundation/qt_printers.h"
#include "../foundation/virtual_main_loop.h"

#include <QFontMetricsF>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>

#include <cmath>

using namespace orrery;

#if defined(__SANITIZE_ADDRESS__)
// Font lookups on the background queue's threads leave fontconfig patterns in those threads'
// font caches, which outlive the application object at exit; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace {

QStringList names(const std::vector<IconImagePtr>& icons) {
  QStringList result;
  for (const auto& icon : icons) result << icon->name();
  return result;
}

// True when the picture holds a pixel that is neither transparent nor grey: colour glyphs.
bool hasColourPixels(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qAlpha(p) > 128 && (std::abs(qRed(p) - qGreen(p)) > 30 || std::abs(qGreen(p) - qBlue(p)) > 30)) return true;
    }
  return false;
}

}  // namespace

TEST(IconImageCollectionTest, ParsesCategoriesInFileOrder) {
  const IconImageCollection collection(QStringLiteral(
      "😀;leading;x;y\n"
      "#Empty\n"
      "#Animals \n"
      "🐶;dog;U+1F436;animals\n"
      "🐱;cat;U+1F431\n"
      "🐭;mouse;U+1F42D;animals;extra\n"
      "\n"
      "#Food\n"
      "🍏;green apple;U+1F34F;food"));
  EXPECT_EQ(collection.categories(), QStringList({"UNKNOWN", "Animals ", "Food"}));
  EXPECT_EQ(names(collection.iconImagesByCategory("UNKNOWN")), QStringList({"leading"}));
  EXPECT_EQ(names(collection.iconImagesByCategory("Animals ")), QStringList({"dog", "mouse"}));
  EXPECT_TRUE(collection.iconImagesByCategory("Empty").empty());
  EXPECT_TRUE(collection.iconImagesByCategory("Animals").empty());
  const IconImagePtr apple = collection.iconImagesByCategory("Food").front();
  EXPECT_EQ(apple->symbol(), "🍏");
  EXPECT_EQ(apple->category(), "Food");
}

TEST(IconImageCollectionTest, TheBundledCatalogueIsPreDrawnInTheBackground) {
  const IconImageCollection& bundled = IconImageCollection::instance();
  ASSERT_GE(bundled.categories().size(), 8);
  EXPECT_FALSE(bundled.categories().contains("UNKNOWN"));
  size_t count = 0;
  for (const QString& category : bundled.categories()) count += bundled.iconImagesByCategory(category).size();
  EXPECT_GT(count, 500u);

  VirtualMainLoop main;
  bool done = false;
  bundled.preRenderImages([&] { done = true; });
  // Drawing the whole catalogue takes a few seconds under ThreadSanitizer on two busy cores.
  ASSERT_TRUE(main.loop().runUntil([&] { return done; }, std::chrono::minutes(2)));
  const IconImagePtr first = bundled.iconImagesByCategory(bundled.categories().front()).front();
  // Drawn once and kept.
  EXPECT_EQ(first->image().cacheKey(), first->image().cacheKey());
  EXPECT_TRUE(hasColourPixels(first->image()));
}

TEST(IconImageTest, SymbolPicturesAreSquareAtTwiceTheMeasuredSide) {
  const QImage picture = IconImage::createSymbolImage("🚀");
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.width(), picture.height());
  QFont font = platform::fontNamed(IconImage::kSymbolFontName, IconImage::kSymbolFontSize).value_or(QFont());
  font.setPixelSize(int(IconImage::kSymbolFontSize));
  const QSizeF text = QFontMetricsF(font).size(Qt::TextSingleLine, "🚀");
  EXPECT_EQ(picture.width(), int(2 * (std::max(text.width(), text.height()) + 2)));
  EXPECT_TRUE(hasColourPixels(picture));
  // Transparent around the symbol.
  EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
}

TEST(IconImageTest, CodesItsThreeStringsAndDrawsUnknownSymbols) {
  IconImage icon("lizard", "Animals", "🦎");
  JSONEncoder encoder;
  encoder.encodeObject(icon);
  const QJsonObject json = QJsonDocument::fromJson(encoder.data()).object();
  EXPECT_EQ(json, QJsonObject({{"iconImage", QJsonObject({{"name", "lizard"}, {"category", "Animals"}, {"symbol", "🦎"}})}}));

  // Found by its member name; a symbol that is not in the catalogue still draws.
  auto decoder = JSONDecoder::createWithData(R"({"iconImage": {"name": "odd", "category": "None", "symbol": "🧿"}})");
  const auto back = decoder->decodeObjectOfClass<IconImage>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name(), "odd");
  EXPECT_FALSE(back->image().isNull());
  EXPECT_TRUE(hasColourPixels(back->image()));
}
