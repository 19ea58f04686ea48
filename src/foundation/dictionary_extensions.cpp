#include "foundation/dictionary_extensions.h"

#include <QLocale>
#include <QRegularExpression>

namespace orrery::dictext {

namespace {

QString number(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

}  // namespace

QString stringFromRect(const QRectF& rect) {
  return QStringLiteral("{{%1, %2}, {%3, %4}}")
      .arg(number(rect.x()), number(rect.y()), number(rect.width()), number(rect.height()));
}

QRectF rectFromString(const QString& text) {
  static const QRegularExpression kNumber(QStringLiteral(R"([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)"));
  double v[4] = {0, 0, 0, 0};
  int i = 0;
  for (auto it = kNumber.globalMatch(text); it.hasNext() && i < 4;) v[i++] = it.next().captured().toDouble();
  return QRectF(v[0], v[1], v[2], v[3]);
}

void setRect(QVariantMap& dictionary, const QRectF& rect, const QString& key) {
  dictionary.insert(key, stringFromRect(rect));
}

QRectF rectForKey(const QVariantMap& dictionary, const QString& key) {
  auto it = dictionary.constFind(key);
  if (it == dictionary.constEnd()) return QRectF();
  return rectFromString(it->toString());
}

}  // namespace orrery::dictext

namespace orrery::dictext {

QString stringFromPoint(const QPointF& point) {
  return QStringLiteral("{%1, %2}").arg(number(point.x()), number(point.y()));
}

QPointF pointFromString(const QString& text) { return rectFromString(text).topLeft(); }

}  // namespace orrery::dictext
