#pragma once
// What the home tests share: proxies of given looks and a tile rendered into a picture.

#include "editor_test_support.h"
#include "home/home_planet_layer.h"
#include "model/color.h"
#include "model/idea_proxy.h"

#include <QDateTime>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace hometest {

inline orrery::IdeaProxyPtr proxy(const QString& id, const QString& text, std::int64_t count,
                                  const QColor& color = QColor(40, 60, 120)) {
  auto p = std::make_shared<orrery::IdeaProxy>();
  p->setDocIdentifier(id);
  p->setText(text);
  p->setItemCount(count);
  if (color.isValid()) p->setColor(std::make_shared<orrery::Color>(QStringLiteral("test"), color));
  p->setDateCreated(QDateTime(QDate(2024, 3, 5), QTime(10, 0)));
  p->setDateModified(QDateTime(QDate(2024, 4, 6), QTime(11, 30)));
  return p;
}

// The tile's 232.5-point square at one pixel per point.
inline QImage render(orrery::HomePlanetLayer& layer) {
  const double side = 2.5 * orrery::HomePlanetLayer::kRadius;
  layer.setBounds(QRectF(0, 0, side, side));
  QImage image(static_cast<int>(std::ceil(side)), static_cast<int>(std::ceil(side)), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  layer.drawInContext(painter);
  painter.end();
  return image;
}

}  // namespace hometest
