#include "platform/ui/label_view.h"

#include "export/support/recording_device.h"

#include <QFontMetricsF>
#include <QPainter>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
