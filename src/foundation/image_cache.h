#pragma once
// Named image resources tinted flat with a theme colour, kept for the life of the process.
// Safe to use from any thread.

#include <QHash>
#include <QImage>
#include <QString>

#include <mutex>

namespace orrery {

// A tint colour: its name (empty for none) and its red, green and blue in 0..255.
struct TintColor {
  QString name;
  double red = 0;
  double green = 0;
  double blue = 0;
};

class ImageCache {
 public:
  static ImageCache& cache();

  // The resource `name` tinted with `color` (no colour tints black); null when there is no
  // such resource. Repeated requests answer the same shared image.
  QImage imageWithName(const QString& name, const TintColor& color);
  // One image set serves every screen kind.
  QImage deviceImageWithName(const QString& name, const TintColor& color) {
    return imageWithName(name, color);
  }

 private:
  std::mutex mMutex;
  QHash<QString, QImage> mImageDictionary;
};

}  // namespace orrery
