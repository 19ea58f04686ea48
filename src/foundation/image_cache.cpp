#include "foundation/image_cache.h"

#include "foundation/image_extensions.h"
#include "foundation/image_filters.h"

namespace orrery {

ImageCache& ImageCache::cache() {
  static ImageCache instance;
  return instance;
}

QImage ImageCache::imageWithName(const QString& name, const TintColor& color) {
  const QString colorName = color.name.isEmpty() ? QStringLiteral("(null)") : color.name;
  const QString key = name + QStringLiteral("__") + colorName;
  {
    std::lock_guard lock(mMutex);
    auto it = mImageDictionary.constFind(key);
    if (it != mImageDictionary.constEnd()) return *it;
  }
  const QImage source = imageext::deviceImageNamed(name);
  if (source.isNull()) return {};
  // Two threads missing the same key may both tint; the later store wins.
  QImage tinted = color.name.isEmpty() ? imagefilters::transformImage(source, 0, 0, 0)
                                      : imagefilters::transformImage(source, color.red, color.green, color.blue);
  // A 2x picture keeps its point size.
  tinted.setDevicePixelRatio(source.devicePixelRatio());
  std::lock_guard lock(mMutex);
  mImageDictionary.insert(key, tinted);
  return tinted;
}

}  // namespace orrery
