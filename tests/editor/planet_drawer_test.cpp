#include "editor/planet_drawer.h"
#include "editor/planet_title.h"
#include "editor_test_support.h"
#include "export/support/recording_device.h"
#include "model/icon_image.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <gtest/gtest.h>

using namespace orrery;
using editortest::render;

TEST(PlanetDrawerTables, RadiiByTypeWithEveryOtherTypeAnOrbitPlanet) {
  const std::pair<PlanetType, float> expected[] = {{0, 56}, {1, 76}, {2, 35}, {3, 12}, {4, 76},
                                                   {5, 56}, {6, 93}, {7, 56}, {100, 56}};
  for (const auto& [type, radius] : expected) EXPECT_EQ(PlanetDrawer::radiusForPlanetType(type), radius) << type;
  PlanetDrawer sun(1);
  EXPECT_EQ(sun.scaledSize(), QSizeF(190, 190));
  EXPECT_EQ(sun.scaledCenter(), QPointF(95, 95));
}

TEST(PlanetDrawerTables, FontSizesFollowTheTextSizeFactorColumns) {
  struct Row {
    PlanetType type;
    float below4, at5, atOrAbove7;
  };
  const Row rows[] = {{1, 12, 15, 19.5f}, {4, 12, 15, 19.5f}, {2, 7, 10, 14.5f},
                      {6, 11, 14, 17.5f}, {0, 9, 11, 14.5f},  {3, 9, 11, 14.5f}, {5, 9, 11, 14.5f}, {42, 9, 11, 14.5f}};
  for (const Row& r : rows) {
    EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(r.type, 2), r.below4) << r.type;
    EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(r.type, 3), r.below4) << r.type;
    EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(r.type, 5), r.at5) << r.type;
    EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(r.type, 8), r.atOrAbove7) << r.type;
  }
  EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(6, 4), 12);
  EXPECT_EQ(PlanetDrawer::fontSizeForPlanetType(1, 6), 16.5f);

  editortest::AppearanceScope restore;
  Globals::changeFontSizeFactor(5);
  EXPECT_EQ(PlanetDrawer(6).fontSize(), 14) << "a new drawer reads the current factor";
}

TEST(PlanetDrawerContent, PictureAndColourExcludeEachOtherButNoneKeepsTheOther) {
  const ColorPtr blue = editortest::themeColor(false);
  ASSERT_TRUE(blue);
  QImage red(4, 4, QImage::Format_ARGB32_Premultiplied);
  red.fill(Qt::red);
  PlanetDrawer drawer(0);
  drawer.setBaseColor(blue);
  drawer.setImage(KitImage());
  EXPECT_EQ(drawer.baseColor(), blue);
  drawer.setImage(KitImage(red));
  EXPECT_EQ(drawer.baseColor(), nullptr);
  drawer.setBaseColor(nullptr);
  EXPECT_FALSE(drawer.image().isNull());
  drawer.setBaseColor(blue);
  EXPECT_TRUE(drawer.image().isNull());
}

TEST(PlanetDrawerContent, HighContrastDarkensTextOnlyOnBrightColours) {
  editortest::AppearanceScope restore;
  const ColorPtr bright = editortest::themeColor(true);
  const ColorPtr dark = editortest::themeColor(false);
  ASSERT_TRUE(bright && dark);
  PlanetDrawer drawer(0);
  Globals::setHighContrastText(true);
  drawer.setBaseColor(bright);
  EXPECT_EQ(drawer.textColor(), QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f));
  drawer.setBaseColor(dark);
  EXPECT_EQ(drawer.textColor(), QColor(Qt::white));
  drawer.setBaseColor(nullptr);
  EXPECT_EQ(drawer.textColor(), QColor(Qt::white));
  Globals::setHighContrastText(false);
  drawer.setBaseColor(bright);
  EXPECT_EQ(drawer.textColor(), QColor(Qt::white));
}

TEST(PlanetDrawerNote, EnlargedHitAreaAroundTheBadgeAndNeverWithoutANote) {
  PlanetDrawer drawer(0);
  const QPointF c = drawer.scaledCenter();
  const QRectF r = drawer.noteRect();
  ASSERT_FALSE(r.isEmpty());
  auto rel = [&](double x, double y) { return QPointF(x, y) - c; };
  EXPECT_FALSE(drawer.hitsNote(rel(r.center().x(), r.center().y()))) << "note 0 never hits";
  drawer.setNoteNumber(-1);
  EXPECT_TRUE(drawer.hitsNote(rel(r.center().x(), r.center().y())));
  EXPECT_TRUE(drawer.hitsNote(rel(r.left() - 8.5, r.top() - 4.5)));
  EXPECT_FALSE(drawer.hitsNote(rel(r.left() - 9.5, r.center().y())));
  EXPECT_TRUE(drawer.hitsNote(rel(r.right() + 6.5, r.bottom() + 7.5)));
  EXPECT_FALSE(drawer.hitsNote(rel(r.right() + 7.5, r.center().y())));
  EXPECT_FALSE(drawer.hitsNote(rel(r.center().x(), r.bottom() + 8.5)));
  EXPECT_FALSE(drawer.hitsNote(rel(r.center().x(), r.top() - 5.5)));

  // The badge sits centred just above the sub-ideas marker's place and scales with the disc.
  EXPECT_NEAR(r.center().x(), c.x(), 0.5);
  EXPECT_LT(r.bottom(), c.y() + 0.9 * drawer.scaledRadius());
  drawer.setScale(2);
  EXPECT_NEAR(drawer.noteRect().width(), 2 * r.width(), 1.01);
}

TEST(PlanetDrawerNote, APictureDiscHitsItsBadgeWithoutDrawingIt) {
  QImage green(200, 200, QImage::Format_ARGB32_Premultiplied);
  green.fill(Qt::green);
  PlanetDrawer drawer(0);
  drawer.setImage(KitImage(green));
  const QImage without = render(drawer, 1);
  drawer.setNoteNumber(7);
  EXPECT_TRUE(drawer.hitsNote(drawer.noteRect().center() - drawer.scaledCenter()));
  EXPECT_TRUE(editortest::differenceBox(without, render(drawer, 1)).isNull()) << "no badge on a picture";
}

TEST(PlanetDrawerNote, NumbersPrintWithAtLeastThreeDigits) {
  const ColorPtr dark = editortest::themeColor(false);
  PlanetDrawer drawer(1);
  drawer.setBaseColor(dark);
  const QImage plain = render(drawer, 2);
  auto inkWidth = [&](std::int64_t n) {
    drawer.setNoteNumber(n);
    return editortest::differenceBox(plain, render(drawer, 2)).width();
  };
  const int one = inkWidth(1), fortyTwo = inkWidth(42), nines = inkWidth(999), four = inkWidth(1234);
  EXPECT_GT(one, 0);
  EXPECT_NEAR(one, nines, 4) << "\"001\" is as wide as \"999\"";
  EXPECT_NEAR(fortyTwo, nines, 4) << "\"042\"";
  EXPECT_GT(four, nines + 8) << "\"1234\" keeps its fourth digit";
}

TEST(PlanetDrawerMarkers, MissingMarkerPicturesDrawNoMarkerAndNeverDivideByZero) {
  const ColorPtr dark = editortest::themeColor(false);
  PlanetDrawer drawer(0, PlanetMarkerImages{});
  drawer.setBaseColor(dark);
  const QImage plain = render(drawer, 1);
  drawer.setShowOrbit(true);
  drawer.setNoteNumber(-1);
  drawer.setShowWebLink(true);
  EXPECT_FALSE(drawer.showWebLink());
  EXPECT_TRUE(editortest::differenceBox(plain, render(drawer, 1)).isNull());
  EXPECT_TRUE(drawer.noteRect().isEmpty());

  PlanetMarkerImages zero;
  zero.subPlanetIndicator = QImage(0, 5, QImage::Format_ARGB32);
  zero.noteIndicator = QImage(0, 0, QImage::Format_ARGB32);
  PlanetDrawer empty(0, zero);
  empty.setShowOrbit(true);
  empty.setNoteNumber(-1);
  EXPECT_FALSE(render(empty, 1).isNull());
}

TEST(PlanetDrawerTitle, LaidOutOnceUntilWhatItShowsChanges) {
  PlanetDrawer drawer(0);
  drawer.setText(QStringLiteral("Three words here"));
  render(drawer, 1);
  render(drawer, 2);
  drawer.setNoteNumber(3);
  render(drawer, 1);
  EXPECT_EQ(drawer.titleLayoutCount(), 1) << "device scale and badges do not lay the title out again";
  drawer.setText(QStringLiteral("Other"));
  render(drawer, 1);
  drawer.setFontSize(14);
  render(drawer, 1);
  drawer.setTextColor(Qt::black);
  render(drawer, 1);
  drawer.setIconImage(std::make_shared<IconImage>("smile", "people", QStringLiteral("☺")));
  render(drawer, 1);
  drawer.setScale(0.5);
  render(drawer, 1);
  EXPECT_EQ(drawer.titleLayoutCount(), 6);
}

TEST(PlanetDrawerTitle, WhatDoesNotFitIsNotDrawnAndNothingEndsInAnEllipsis) {
  struct Case {
    PlanetType type;
    QString title;
    bool cut;
    QStringList wholeWords = {};  // the first words drawn, none broken
  };
  const QString longWord = QStringLiteral("Supercalifragilisticexpialidociously");
  // A key too long for any line after a few short words; its length once made every word break.
  QString key(25000, QLatin1Char('k'));
  for (qsizetype i = 0; i < key.size(); ++i) key[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"[i % 42]);
  const Case cases[] = {
      {0, QStringLiteral("Food"), false},
      {0, QStringLiteral("Holiday plans with the family"), false},
      {0, QStringLiteral("A long planet title that runs on past the lines its disc has room for, and then some "
                         "more words after those"),
       true},
      {0, longWord + QLatin1Char(' ') + longWord + QLatin1Char(' ') + longWord, true},
      {0, QStringLiteral("first line\nsecond line\nthird line\nfourth line\nfifth line\nsixth line\nseventh line\n"
                         "eighth line\nninth line\ntenth line\neleventh line"),
       true},
      {1, QStringLiteral("Japan and the cities we want to see on the long journey next spring, with the family, "
                         "the grandparents and the dog, if the hotels on the way let us bring him along"),
       true},
      {2, QStringLiteral("Japanese gardens and the temples of Kyoto, Nara and Kamakura in the spring"), true},
      {0, QStringLiteral("API key for staging: ") + key, true, {"API", "key", "for", "staging:", key.left(8)}},
      {1, QStringLiteral("API key for staging: ") + key, true, {"API", "key", "for", "staging:", key.left(8)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title.left(80).toStdString());
    PlanetDrawer drawer(c.type);
    drawer.setText(c.title);
    // What the painter was asked to write, line after line.
    exporttest::RecordingDevice device(400, 400);
    {
      QPainter painter(&device);
      drawer.drawInCurrentContext(painter);
    }
    QStringList lines;
    const double t = std::round(0.95f * PlanetDrawer::radiusForPlanetType(c.type));
    const double centreY = drawer.scaledCenter().y();
    for (const auto& text : device.engine().texts) {
      lines << text.text.trimmed();
      EXPECT_LE(text.origin.y(), centreY + 0.55 * t + 0.5) << "a baseline below the text area";
      EXPECT_GE(text.origin.y(), centreY - 0.7 * t) << "a baseline above the text area";
    }
    const QString drawn = lines.join(QLatin1Char(' ')).simplified();
    const QString whole = c.title.simplified();
    EXPECT_FALSE(drawn.contains(QChar(0x2026))) << "drawn: " << drawn.toStdString();
    const QStringList words = drawn.split(QLatin1Char(' '));
    for (qsizetype i = 0; i < c.wholeWords.size(); ++i) {
      ASSERT_LT(i, words.size());
      EXPECT_TRUE(words[i].startsWith(c.wholeWords[i])) << "drawn: " << drawn.left(200).toStdString();
    }
    if (!c.cut) {
      EXPECT_EQ(drawn, whole);
      EXPECT_EQ(drawer.shownTitle(), c.title);
      continue;
    }
    // Words broken across lines come together again without the space between their lines.
    auto squeezed = [](QString text) { return text.remove(QLatin1Char(' ')).remove(QLatin1Char('\n')); };
    EXPECT_TRUE(squeezed(whole).startsWith(squeezed(drawn))) << "drawn: " << drawn.toStdString();
    EXPECT_LT(squeezed(drawn).size(), squeezed(whole).size());
    EXPECT_EQ(squeezed(drawer.shownTitle()), squeezed(drawn)) << "the screen check reads what is drawn";
  }
}

namespace {

// The title drawn in its band from a layout of the whole text, line by line while lines fit.
QImage wholeTitle(const QString& text, float fontSize, float t, bool withIcon) {
  const PlanetTitle::Band band = PlanetTitle::discBand(withIcon);
  const QFont font = PlanetTitle::titleFont(fontSize);
  const QFontMetricsF metrics(font, &PlanetTitle::referenceDevice());
  const double boxAscent = fontSize * metrics.ascent() / (metrics.ascent() + metrics.descent());
  QTextLayout layout(text, font, const_cast<QPaintDevice*>(&PlanetTitle::referenceDevice()));
  QTextOption option(Qt::AlignHCenter);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  auto halfChord = [t](double y) { return std::sqrt(std::max(0.0, t * t - (y - t) * (y - t))); };
  int lines = 0;
  layout.beginLayout();
  for (double y = t - band.above * t; y + fontSize <= t + band.below * t + 1e-9; y += fontSize + 2, ++lines) {
    const double width = 2 * std::min(halfChord(y), halfChord(y + fontSize));
    QTextLine line = layout.createLine();
    if (width < 1 || !line.isValid()) break;
    line.setLineWidth(width);
    line.setPosition(QPointF(t - width / 2, y + boxAscent - line.ascent()));
  }
  layout.endLayout();
  QImage image(int(2 * t), int(2 * t), QImage::Format_ARGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  painter.setPen(Qt::white);
  for (int i = 0; i < std::min(lines, layout.lineCount()); ++i) layout.lineAt(i).draw(&painter, QPointF(0, 0));
  return image;
}

}  // namespace

TEST(PlanetDrawerTitle, ALongTitleShowsWhatItsWholeLayoutShows) {
  auto run = [](const QString& of, qsizetype length) {
    QString text(length, QLatin1Char(' '));
    for (qsizetype i = 0; i < length; ++i) text[i] = of[i % of.size()];
    return text;
  };
  const QString titles[] = {
      QStringLiteral("API key for staging: ") + run(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"), 25000),
      // Figures and signs take the script of the first letter after them, which shapes them.
      QStringLiteral("%$€ ") + run(QStringLiteral("11"), 30000) + QStringLiteral(" Ωμέγα"),
      // Right to left, with signs whose direction is settled far on.
      QStringLiteral("שלום abc !! ") + run(QStringLiteral("!:/-?;."), 3000) + QStringLiteral(" 字本文"),
      QStringLiteral("a") + run(QStringLiteral("\u0301"), 5000) + QStringLiteral(" word ") + run(QStringLiteral("\u200d"), 5000),
      run(QStringLiteral("word "), 6000),
  };
  for (const QString& title : titles) {
    SCOPED_TRACE(title.left(40).toStdString());
    for (const bool withIcon : {false, true}) {
      const PlanetTitle laidOut(title, 10, 53, withIcon);
      QImage image(106, 106, QImage::Format_ARGB32);
      image.fill(Qt::black);
      {
        QPainter painter(&image);
        painter.translate(0, -laidOut.offset());
        laidOut.draw(painter, Qt::white);
      }
      EXPECT_TRUE(image == wholeTitle(title, 10, 53, withIcon)) << (withIcon ? "with an icon" : "without an icon");
    }
  }
}

TEST(PlanetDrawerBadInput, OddTitlesPicturesAndNoColourDrawWithoutCrashing) {
  const QString titles[] = {QString(), QStringLiteral(""), QString(10000, QChar('w')),
                            QStringLiteral("Supercalifragilisticexpialidociousnessabundantly"),
                            QString(2000, QChar(' ')) + QStringLiteral("x"),
                            QStringLiteral("😀🎉 party 👍🏽"), QStringLiteral("שלום עולם مرحبا بالعالم"),
                            QStringLiteral("a\nb\r\nc\td"), QString(QChar(0xD83D))};
  for (PlanetType type : {PlanetType(0), PlanetType(1), PlanetType(3), PlanetType(6)}) {
    for (const QString& title : titles) {
      PlanetDrawer drawer(type);
      drawer.setText(title);
      drawer.setIconImage(std::make_shared<IconImage>("smile", "people", QStringLiteral("☺")));
      drawer.setShowOrbit(true);
      drawer.setNoteNumber(std::numeric_limits<std::int64_t>::min());
      const QImage image = render(drawer, 1);
      EXPECT_FALSE(image.isNull());
      drawer.setNoteNumber(std::numeric_limits<std::int64_t>::max());
      render(drawer, 2);
    }
  }
  PlanetDrawer picture(0);
  picture.setImage(KitImage(QImage(0, 0, QImage::Format_ARGB32)));
  EXPECT_TRUE(picture.image().isNull());
  picture.setImage(KitImage(QImage(1, 0, QImage::Format_ARGB32)));
  picture.setShowWebLink(true);
  render(picture, 1);
  PlanetDrawer zeroScale(0);
  zeroScale.setScale(0);
  zeroScale.setText(QStringLiteral("nothing"));
  render(zeroScale, 1);
  zeroScale.setScale(-1);
  render(zeroScale, 1);
}
