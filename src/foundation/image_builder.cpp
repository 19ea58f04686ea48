#include "foundation/image_builder.h"

#include "foundation/kit_image.h"

namespace orrery {

ImageBuilder::~ImageBuilder() { consumeImage(); }

QPainter* ImageBuilder::startWithSize(const QSizeF& size) {
  consumeImage();
  mImg = KitImage::createBitmapContextForSize(size);
  if (mImg.isNull()) return nullptr;
  mOffscreenRep = std::make_unique<QPainter>(&mImg);
  mOffscreenRep->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                QPainter::SmoothPixmapTransform);
  return mOffscreenRep.get();
}

QImage ImageBuilder::consumeImage() {
  if (mOffscreenRep) {
    mOffscreenRep->end();
    mOffscreenRep.reset();
  }
  QImage image = std::move(mImg);
  mImg = QImage();
  return image;
}

}  // namespace orrery
