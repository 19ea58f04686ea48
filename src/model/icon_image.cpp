#include "model/icon_image.h"

#include "foundation/image_builder.h"
#include "platform/services/font_catalog.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

const bool kRegistered = KeyedClassRegistry::add<IconImage>();

QFont symbolFont() {
  QFont font = platform::fontNamed(QString::fromLatin1(IconImage::kSymbolFontName), IconImage::kSymbolFontSize)
                   .value_or(QFont());
  // One pixel per point, as in a bitmap context of scale 1.
  font.setPixelSize(int(IconImage::kSymbolFontSize));
  return font;
}

}  // namespace

IconImage::IconImage(QString name, QString category, QString symbol)
    : mSymbol(std::move(symbol)), mName(std::move(name)), mCategory(std::move(category)) {
  (void)kRegistered;
}

bool IconImage::same(const IconImagePtr& a, const IconImagePtr& b) {
  if (!a || !b) return !a && !b;
  return a->mName == b->mName && a->mCategory == b->mCategory && a->mSymbol == b->mSymbol;
}

std::shared_ptr<IconImage> IconImage::createWithCoder(KeyedDecoder& coder) {
  return std::make_shared<IconImage>(coder.decodeStringForKey("name"), coder.decodeStringForKey("category"),
                                     coder.decodeStringForKey("symbol"));
}

void IconImage::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(mName, "name");
  coder.encodeString(mCategory, "category");
  coder.encodeString(mSymbol, "symbol");
}

QString IconImage::description() const {
  return QStringLiteral("<IconImage name=[%1] category=[%2] symbol=[%3]>").arg(mName, mCategory, mSymbol);
}

QImage IconImage::image() const {
  std::lock_guard lock(mImageMutex);
  if (mImage.isNull()) mImage = createSymbolImage(mSymbol);
  return mImage;
}

QImage IconImage::createSymbolImage(const QString& symbol) {
  const QFont font = symbolFont();
  const QFontMetricsF metrics(font);
  const QSizeF textSize = metrics.size(Qt::TextSingleLine, symbol);
  const double side = std::max(textSize.width(), textSize.height()) + 2.0;

  ImageBuilder builder;
  QPainter* painter = builder.startWithSize(QSizeF(2 * side, 2 * side));
  if (!painter) return {};
  painter->scale(2, 2);
  painter->setFont(font);
  const QPointF origin(std::round((side - textSize.width()) * 0.5), std::round((side - textSize.height()) * 0.5));
  painter->drawText(QRectF(origin, textSize), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, symbol);
  return builder.consumeImage();
}

}  // namespace orrery
