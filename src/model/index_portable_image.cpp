#include "model/index_portable_image.h"

namespace orrery {

namespace {
const bool kRegistered = KeyedClassRegistry::add<PortableImage>();
constexpr char kDataKey[] = "data";
}  // namespace

PortableImage::PortableImage(QByteArray pngData) : mImage(std::move(pngData)) { (void)kRegistered; }

std::shared_ptr<PortableImage> PortableImage::createWithCoder(KeyedDecoder& coder) {
  return std::make_shared<PortableImage>(coder.decodeDataForKey(kDataKey));
}

void PortableImage::encodeWithCoder(KeyedEncoder& coder) const { coder.encodeData(mImage, kDataKey); }

}  // namespace orrery
