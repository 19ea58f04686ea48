#pragma once
// One icon of the emoji catalogue: its name, its category and the symbol text, with a picture
// of the symbol drawn on first request. Documents store the three strings, never the picture.

#include "model/keyed_coding.h"

#include <QImage>
#include <QString>

#include <memory>
#include <mutex>

namespace orrery {

class IconImage;
using IconImagePtr = std::shared_ptr<const IconImage>;

class IconImage final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "IconImage";
  // The font the symbols are set in, and its size in pixels.
  static constexpr char kSymbolFontName[] = "Apple Color Emoji";
  static constexpr double kSymbolFontSize = 20.0;

  IconImage(QString name, QString category, QString symbol);
  static std::shared_ptr<IconImage> createWithCoder(KeyedDecoder& coder);

  // Alike as a document stores them (both none counts as alike): every read makes new icons.
  static bool same(const IconImagePtr& a, const IconImagePtr& b);

  const QString& name() const { return mName; }
  const QString& category() const { return mCategory; }
  const QString& symbol() const { return mSymbol; }

  // The symbol's picture, drawn at the first request and kept; any thread may ask, and the
  // drawing happens once.
  QImage image() const;
  // A square picture of the symbol at twice its size: side 2 × (the larger of the text's
  // width and height + 2) pixels.
  static QImage createSymbolImage(const QString& symbol);

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
  QString description() const override;

 private:
  QString mSymbol;
  mutable QImage mImage;
  mutable std::mutex mImageMutex;
  QString mName;
  QString mCategory;
};

}  // namespace orrery
