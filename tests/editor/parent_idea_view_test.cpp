#include "editor/parent_idea_view.h"
#include "editor/planet_title.h"
#include "editor_test_support.h"
#include "platform/services/font_catalog.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <cmath>

using namespace orrery;

namespace {

// The pixel size a label font draws at in the views' images.
double pixelSize(const QFont& font) {
  QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  return font.pointSizeF() * device.logicalDpiY() / 72.0;
}

}  // namespace

TEST(ParentIdea, FixedGeometry) {
  EXPECT_EQ(ParentIdeaView::defaultTextFrame(), QRectF(11, 6, 95, 36));
  EXPECT_EQ(ParentIdeaView::defaultOrigin(), QPointF(-34, -36));
  EXPECT_NEAR(ParentIdeaView::defaultRadius(), 155.73, 0.01);
  ParentIdeaView view(QStringLiteral("Parent"), editortest::themeColor(false));
  EXPECT_EQ(view.frame(), QRectF(0, 0, 120, 120));
  EXPECT_EQ(view.contentView()->frame(), QRectF(0, 0, 120, 120));
}

TEST(ParentIdea, PictureIsCutToTheDiscWithoutTitle) {
  QImage picture(400, 400, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::red);
  ParentIdeaView view{KitImage(picture)};
  EXPECT_EQ(view.label(), nullptr);
  for (double k : {1.0, 2.0}) {
    const QImage image = view.snapshot(k);
    EXPECT_EQ(image.pixelColor(QPoint(10, 10) * k), QColor(Qt::red)) << k;
    EXPECT_EQ(image.pixelColor(QPoint(100, 30) * k), QColor(Qt::red)) << k;
    // (115, 115) lies about 212 points from the disc centre, beyond its radius.
    EXPECT_EQ(image.pixelColor(QPoint(115, 115) * k).alpha(), 0) << k;
  }
}

TEST(ParentIdea, TitledDiscShowsTintedArtworkAndTitle) {
  const ColorPtr colour = editortest::themeColor(false);
  ParentIdeaView view(QStringLiteral("Parent"), colour);
  ASSERT_TRUE(view.label());
  EXPECT_EQ(view.label()->text(), QStringLiteral("Parent"));
  EXPECT_EQ(view.label()->frame(), ParentIdeaView::defaultTextFrame());
  EXPECT_FALSE(view.imageView()->image().isNull());
  const QImage image = view.snapshot();
  // Inside the large disc whose centre lies beyond the corner.
  const QColor corner = image.pixelColor(60, 60);
  EXPECT_GT(corner.alpha(), 200);
  EXPECT_LT(editortest::channelDistance(corner, colour->uiColor()), 40) << "the artwork tinted with the colour";
}

TEST(ParentIdea, EveryTitlePixelLiesOnTheDisc) {
  editortest::AppearanceScope restore;
  int titlePixels = 0;
  for (const int factor : {3, 5, 7}) {
    Globals::changeFontSizeFactor(factor);
    for (const ColorPtr& colour : {editortest::themeColor(false), editortest::themeColor(true), ColorPtr()}) {
      for (const QString& title : {QStringLiteral("Thoughts"), QStringLiteral("Wandering Weekend Walks"),
                                   QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMM")}) {
        ParentIdeaView view(title, colour);
        for (const double k : {1.0, 2.0}) {
          const QImage withTitle = view.snapshot(k);
          view.label()->setHidden(true);
          const QImage disc = view.snapshot(k);
          view.label()->setHidden(false);
          for (int y = 0; y < disc.height(); ++y)
            for (int x = 0; x < disc.width(); ++x) {
              if (withTitle.pixel(x, y) == disc.pixel(x, y)) continue;
              ++titlePixels;
              ASSERT_GE(qAlpha(disc.pixel(x, y)), 250)
                  << title.toStdString() << " at factor " << factor << ", scale " << k << ": title pixel (" << x
                  << ", " << y << ") off the disc";
            }
        }
      }
    }
  }
  EXPECT_GT(titlePixels, 1000) << "the titles were drawn";
}

TEST(ParentIdea, TitleSizeFollowsTheTextSizeFactor) {
  editortest::AppearanceScope restore;
  Globals::changeFontSizeFactor(7);
  ParentIdeaView view(QStringLiteral("Parent"), editortest::themeColor(false));
  EXPECT_NEAR(pixelSize(view.label()->font()), 14.5, 0.01);
  Globals::changeFontSizeFactor(3);
  EXPECT_NEAR(pixelSize(view.label()->font()), 9, 0.01);
  EXPECT_EQ(view.label()->font().family(), platform::mappedFontFamily(QStringLiteral("Helvetica")));
}

TEST(ParentIdea, ContrastSwitchesWithoutRebuilding) {
  editortest::AppearanceScope restore;
  Globals::setHighContrastText(false);
  ParentIdeaView bright(QStringLiteral("Parent"), editortest::themeColor(true));
  ParentIdeaView dark(QStringLiteral("Parent"), editortest::themeColor(false));
  const auto label = bright.label();
  EXPECT_EQ(label->textColor(), QColor(Qt::white));
  Globals::setHighContrastText(true);
  EXPECT_EQ(bright.label(), label);
  EXPECT_EQ(label->textColor(), QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f));
  EXPECT_EQ(dark.label()->textColor(), QColor(Qt::white));
  Globals::setHighContrastText(false);
  EXPECT_EQ(label->textColor(), QColor(Qt::white));
}

TEST(ParentIdea, HitsAnywhereInItsSquare) {
  auto root = std::make_shared<BaseView>(QRectF(0, 0, 500, 500));
  auto view = std::make_shared<ParentIdeaView>(QStringLiteral("Parent"), nullptr);
  root->addSubview(view);
  for (const QPointF& p : {QPointF(1, 1), QPointF(119, 119), QPointF(60, 10), QPointF(119.5, 0.5)})
    EXPECT_EQ(root->hitTest(p), view.get()) << p.x() << "," << p.y();
  EXPECT_EQ(root->hitTest(QPointF(121, 60)), root.get());
  EXPECT_FALSE(view->snapshot().isNull()) << "no colour tints the artwork black";
}

TEST(ParentIdea, ATitleShowsTheWholeLinesThatFitAndNoEllipsis) {
  editortest::AppearanceScope restore;
  const QString longTitle = QStringLiteral("A long parent title that runs on past the lines its corner has room for");
  const QString longWord = QStringLiteral("Supercalifragilisticexpialidociously");
  QString key(25000, QLatin1Char('k'));
  for (qsizetype i = 0; i < key.size(); ++i) key[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"[i % 42]);
  const struct {
    int factor;
    QString title;
    bool whole;
    QStringList wholeWords = {};  // the first words shown, none broken
  } cases[] = {
      {4, QStringLiteral("Thoughts"), true},
      {4, QStringLiteral("Japan and the cities we want to see"), true},
      {4, longTitle, false},
      {7, longTitle, false},
      {3, longWord + QLatin1Char(' ') + longWord, false},
      {4, QStringLiteral("one\ntwo\nthree\nfour\nfive"), false},
      // As long as a title may be, and a key too long for any line after a few short words.
      {4, QStringLiteral("Go ") + QString(999997, QLatin1Char('x')), false, {"Go", "xxxxxxxx"}},
      {4, QStringLiteral("API key for staging: ") + key, false, {"API", "key", "for", "staging:", key.left(8)}},
      {7, QStringLiteral("API key for staging: ") + key, false, {"API", "key", "for", "staging:"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title.left(80).toStdString());
    Globals::changeFontSizeFactor(c.factor);
    ParentIdeaView view(c.title, editortest::themeColor(false));
    const QStringList lines = view.label()->shownLines();
    ASSERT_FALSE(lines.isEmpty());
    const QString shown = lines.join(QLatin1Char(' '));
    EXPECT_FALSE(shown.contains(QChar(0x2026)));
    const QStringList words = shown.split(QLatin1Char(' '));
    for (qsizetype i = 0; i < c.wholeWords.size(); ++i) {
      ASSERT_LT(i, words.size());
      EXPECT_TRUE(words[i].startsWith(c.wholeWords[i])) << "shown: " << shown.left(200).toStdString();
    }
    auto squeezed = [](QString text) { return text.simplified().remove(QLatin1Char(' ')); };
    if (c.whole) {
      EXPECT_EQ(squeezed(shown), squeezed(c.title));
    } else {
      EXPECT_TRUE(squeezed(c.title).startsWith(squeezed(shown))) << "shown: " << shown.toStdString();
      EXPECT_LT(squeezed(shown).size(), squeezed(c.title).size());
    }
    // Drawn: nothing below the last whole line, nothing outside the label's frame.
    const QImage withTitle = view.snapshot();
    view.label()->setHidden(true);
    const QImage disc = view.snapshot();
    const QRect ink = editortest::differenceBox(disc, withTitle, 40);
    ASSERT_FALSE(ink.isEmpty());
    const QRectF frame = ParentIdeaView::defaultTextFrame();
    const double lineHeight = QFontMetricsF(view.label()->font(), &PlanetTitle::referenceDevice()).height();
    EXPECT_GE(ink.left(), frame.left());
    EXPECT_LE(ink.right(), frame.right());
    EXPECT_GE(ink.top(), frame.top());
    EXPECT_LE(ink.bottom(), frame.top() + lines.size() * lineHeight + 1) << lines.size() << " lines";
  }
}
