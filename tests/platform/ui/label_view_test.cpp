#include "platform/ui/label_view.h"

#include "export/support/recording_device.h"

#include <QFontMetricsF>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

// What the label asks the painter to write, and how wide that is in its font.
QString drawnText(LabelView& label) {
  exporttest::RecordingDevice device(600, 100);
  {
    QPainter painter(&device);
    label.drawRect(painter, label.bounds());
  }
  QString text;
  for (const auto& item : device.engine().texts) text += item.text;
  return text;
}

TEST(LabelView, ALineWiderThanTheLabelEndsInAnEllipsisThatFits) {
  struct Case {
    QString text;
    double width;
    bool cut;
  };
  const Case cases[] = {
      {QStringLiteral("Japan"), 200, false},
      {QStringLiteral("Japan and the cities we want to see"), 95, true},
      {QStringLiteral("Supercalifragilisticexpialidocious"), 60, true},
      {QStringLiteral("Two\nlines"), 20, false},  // several lines keep theirs
      {QStringLiteral("Anything"), 4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    LabelView label(QRectF(0, 0, c.width, 30));
    label.setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
    label.setStringValue(c.text);
    const QString drawn = drawnText(label);
    EXPECT_EQ(label.stringValue(), c.text) << "the text itself is kept";
    if (!c.cut) {
      EXPECT_EQ(QString(drawn).remove(QLatin1Char('\n')).remove(QChar(0x2028)),
                QString(c.text).remove(QLatin1Char('\n')));
      continue;
    }
    ASSERT_TRUE(drawn.endsWith(QChar(0x2026))) << drawn.toStdString();
    EXPECT_TRUE(c.text.startsWith(drawn.chopped(1).trimmed())) << drawn.toStdString();
    // A label too narrow for any letter still shows the ellipsis alone.
    const QFontMetricsF metrics(label.font());
    EXPECT_LE(metrics.horizontalAdvance(drawn), std::max(c.width - 4, metrics.horizontalAdvance(QChar(0x2026))) + 1)
        << drawn.toStdString();
  }
}

// Emoji of several code points and letters with marks are whole characters: a cut never
// halves one, at any width.
TEST(LabelView, TheEllipsisFollowsWholeCharactersOnly) {
  struct Case {
    const char* what;
    QStringList characters;  // as the reader counts them
  };
  const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
  const QString flagFR = QString::fromUtf8("\U0001F1EB\U0001F1F7"), flagDE = QString::fromUtf8("\U0001F1E9\U0001F1EA");
  const QString thumb = QString::fromUtf8("\U0001F44D\U0001F3FD"), keycap = QString::fromUtf8("1\uFE0F\u20E3");
  const QString eAcute = QString::fromUtf8("e\u0301"),
                rainbowFlag = QString::fromUtf8("\U0001F3F3\uFE0F\u200D\U0001F308");
  const Case cases[] = {
      {"emoji",
       {"T", "r", "i", "p", " ", QString::fromUtf8("\U0001F600"), QString::fromUtf8("\U0001F680"),
        QString::fromUtf8("\U0001F30D"), " ", "a", "n", "d", " ", "m", "o", "r", "e"}},
      {"joined sequences", {"F", "a", "m", "i", "l", "y", " ", family, family, rainbowFlag, family, " ", "x", "y"}},
      {"flags", {"G", "o", " ", flagFR, flagDE, flagFR, flagDE, " ", "t", "o", "u", "r"}},
      {"marks and modifiers", {"C", "a", "f", eAcute, " ", thumb, keycap, eAcute, thumb, " ", "o", "k"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString text = c.characters.join(QString());
    std::vector<int> ends{0};
    for (const QString& character : c.characters) ends.push_back(ends.back() + static_cast<int>(character.size()));
    LabelView label(QRectF(0, 0, 400, 30));
    label.setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
    label.setStringValue(text);
    const double full = label.fittingSize().width();
    int cutCount = 0;
    for (double width = 6; width + 1 < full; width += 1) {
      label.setFrameSize(QSizeF(width, 30));
      const QString shown = label.shownText().string();
      ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << width;
      const QString kept = shown.chopped(1);
      ASSERT_TRUE(text.startsWith(kept)) << width;
      EXPECT_NE(std::find(ends.begin(), ends.end(), static_cast<int>(kept.size())), ends.end())
          << "cut inside a character at width " << width;
      EXPECT_FALSE(kept.contains(QChar::ReplacementCharacter));
      ++cutCount;
    }
    EXPECT_GT(cutCount, 40) << "many widths tried";
  }
}

}  // namespace
}  // namespace platform
