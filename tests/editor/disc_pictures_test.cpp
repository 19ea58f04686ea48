#include "editor/disc_pictures.h"
#include "editor/planet_layer.h"
#include "editor_test_support.h"
#include "platform/ui/compositor.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace orrery;

namespace {

class DiscPictures : public ::testing::Test {
 protected:
  void SetUp() override { DiscPictureCache::shared().clear(); }
  void TearDown() override { DiscPictureCache::shared().clear(); }

  static std::shared_ptr<PlanetLayer> disc(const QString& title, const ColorPtr& colour) {
    auto layer = std::make_shared<PlanetLayer>(0);
    layer->setText(title);
    layer->setBaseColor(colour);
    layer->setNote(QStringLiteral("a note"));
    return layer;
  }
  ColorPtr mDark = editortest::themeColor(false);
  ColorPtr mBright = editortest::themeColor(true);
};

}  // namespace

TEST_F(DiscPictures, ADiscThatDiffersInAnythingItShowsNeverTakesAKeptPicture) {
  disc(QStringLiteral("Title"), mDark)->displayIfNeeded();  // kept by its look
  auto icon = std::make_shared<IconImage>("sun", "nature", QStringLiteral("☀"));
  QImage photo(8, 8, QImage::Format_ARGB32_Premultiplied);
  photo.fill(Qt::red);
  const std::vector<std::pair<const char*, std::function<void(PlanetLayer&)>>> changes{
      {"colour", [&](PlanetLayer& l) { l.setBaseColor(mBright); }},
      {"no colour", [&](PlanetLayer& l) { l.setBaseColor(nullptr); }},
      {"picture", [&](PlanetLayer& l) { l.setImage(KitImage(photo)); }},
      {"title", [](PlanetLayer& l) { l.setText(QStringLiteral("Titles")); }},
      {"no title", [](PlanetLayer& l) { l.setText(QString()); }},
      {"icon", [&](PlanetLayer& l) { l.setIconImage(icon); }},
      {"no note", [](PlanetLayer& l) { l.setNote(QString()); }},
      {"orbit", [](PlanetLayer& l) { l.setShowOrbit(true); }},
      {"link", [](PlanetLayer& l) { l.setIsLink(true); }},
      {"web link", [](PlanetLayer& l) { l.setShowWebLink(true); }},
      {"scale", [](PlanetLayer& l) { l.setScale(0.5); }},
      {"font size", [](PlanetLayer& l) { l.setFontSize(20); }},
      {"text colour", [](PlanetLayer& l) { l.setTextColor(Qt::black); }},
      {"screen scale", [](PlanetLayer& l) { l.setContentsScale(2); }},
  };
  for (const auto& [what, change] : changes) {
    auto other = disc(QStringLiteral("Title"), mDark);
    change(*other);
    EXPECT_FALSE(other->showKeptPicture()) << what;
    EXPECT_TRUE(other->needsDisplay()) << what;
  }
  auto same = disc(QStringLiteral("Title"), mDark);
  EXPECT_TRUE(same->showKeptPicture());
  EXPECT_FALSE(same->needsDisplay());
  EXPECT_FALSE(same->contents().isNull());
}

// Past the byte budget the least recently used pictures go; one found again counts as used.
TEST_F(DiscPictures, TheLeastRecentlyUsedPicturesGoPastTheBudget) {
  QImage picture(1024, 1024, QImage::Format_ARGB32_Premultiplied);
  const auto fit = static_cast<int>(DiscPictureCache::kBudget / picture.sizeInBytes());
  auto look = [](int i) {
    DiscLook l;
    l.text = QString::number(i);
    return l;
  };
  auto& cache = DiscPictureCache::shared();
  for (int i = 0; i < fit + 2; ++i) {
    cache.keep(look(i), picture);
    if (i == fit - 1) cache.find(look(0));
  }
  for (int i = 0; i < fit + 2; ++i) EXPECT_EQ(cache.find(look(i)) != nullptr, i == 0 || i > 2) << i;
}

TEST_F(DiscPictures, DiscsDrawnTogetherLookAsEachDrawnAlone) {
  std::vector<std::shared_ptr<PlanetLayer>> together, alone;
  std::vector<PlanetLayer*> discs;
  for (int i = 0; i < 3 * discpictures::kConcurrentFrom; ++i) {
    const QString title = QStringLiteral("Idea number %1 with a title").arg(i);
    together.push_back(disc(title, i % 2 ? mDark : mBright));
    alone.push_back(disc(title, i % 2 ? mDark : mBright));
    discs.push_back(together.back().get());
  }
  discpictures::drawConcurrently(discs);
  DiscPictureCache::shared().clear();
  for (std::size_t i = 0; i < together.size(); ++i) {
    EXPECT_FALSE(together[i]->needsDisplay()) << i;
    alone[i]->displayIfNeeded();
    EXPECT_EQ(together[i]->contents(), alone[i]->contents()) << i;
  }
}

TEST_F(DiscPictures, AFewDiscsAreLeftToTheirOwnDisplay) {
  std::vector<std::shared_ptr<PlanetLayer>> layers;
  std::vector<PlanetLayer*> discs;
  for (int i = 0; i + 1 < discpictures::kConcurrentFrom; ++i) {
    layers.push_back(disc(QStringLiteral("Idea %1").arg(i), mDark));
    discs.push_back(layers.back().get());
  }
  discpictures::drawConcurrently(discs);
  for (const auto& layer : layers) EXPECT_TRUE(layer->needsDisplay());
}

// The picture leaves out the empty corners of the layer; composed, it puts every pixel where
// drawing the whole square would, at any screen scale.
TEST_F(DiscPictures, TheTrimmedPictureComposesAsTheWholeSquareDraws) {
  for (const double k : {1.0, 1.5, 2.0}) {
    for (const double scale : {1.0, 0.61}) {
      auto layer = disc(QStringLiteral("A linked idea"), mDark);
      layer->setIsLink(true);
      layer->setShowOrbit(true);
      layer->setScale(scale);
      layer->resizeToScale();
      layer->setContentsScale(k);
      EXPECT_LT(layer->drawnArea(layer->bounds()).width(), layer->bounds().width());
      const QImage composed = platform::compositor::renderToImage(*layer, k);
      const QImage whole = editortest::render(*layer->planetDrawer(), k);
      ASSERT_EQ(composed.size(), whole.size()) << k;
      EXPECT_EQ(editortest::differenceBox(composed, whole, 2), QRect()) << "at " << k << "×, scale " << scale;
    }
  }
}
