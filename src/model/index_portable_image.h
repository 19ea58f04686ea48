#pragma once
// Boxes a proxy's picture inside the keyed index archive: the picture's PNG bytes as one
// data value of its own class, so a reader can tell a stored picture from other data.

#include "model/keyed_coding.h"

#include <QByteArray>

#include <memory>

namespace orrery {

class PortableImage final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "PortableImage";

  explicit PortableImage(QByteArray pngData = {});
  static std::shared_ptr<PortableImage> createWithCoder(KeyedDecoder& coder);

  const QByteArray& image() const { return mImage; }

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;

 private:
  QByteArray mImage;
};

}  // namespace orrery
