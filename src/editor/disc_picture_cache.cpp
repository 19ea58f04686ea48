#include "editor/disc_picture_cache.h"

#include "editor/planet_drawer.h"

#include <tuple>

namespace orrery {

DiscLook DiscLook::of(const PlanetDrawer& d, const QSizeF& size, double contentsScale) {
  DiscLook look;
  look.planetType = d.planetType();
  look.scale = d.scale();
  look.fontSize = d.fontSize();
  look.textColor = d.textColor().rgba64();
  look.text = d.text();
  look.hasText = !d.text().isNull();
  look.hasColor = d.baseColor() != nullptr;
  if (look.hasColor) look.color = d.baseColor()->uiColor().rgba64();
  look.picture = d.image().isNull() ? 0 : d.image().cgImage().cacheKey();
  look.icon = d.iconImage();
  look.showOrbit = d.showOrbit();
  look.isLink = d.isLink();
  look.fade = d.fade();
  look.webLink = d.showWebLink();
  look.noteNumber = d.noteNumber();
  look.size = size;
  look.contentsScale = contentsScale;
  return look;
}

bool DiscLook::operator==(const DiscLook& o) const {
  return std::tie(planetType, scale, fontSize, textColor, hasText, hasColor, color, picture, icon, showOrbit, isLink,
                  fade, webLink, noteNumber, size, contentsScale) ==
             std::tie(o.planetType, o.scale, o.fontSize, o.textColor, o.hasText, o.hasColor, o.color, o.picture,
                      o.icon, o.showOrbit, o.isLink, o.fade, o.webLink, o.noteNumber, o.size, o.contentsScale) &&
         text == o.text;
}

DiscPictureCache& DiscPictureCache::shared() {
  static DiscPictureCache cache;
  return cache;
}

const QImage* DiscPictureCache::find(const DiscLook& look) {
  for (auto it = mEntries.begin(); it != mEntries.end(); ++it) {
    if (!(it->look == look)) continue;
    mEntries.splice(mEntries.begin(), mEntries, it);
    return &mEntries.front().picture;
  }
  return nullptr;
}

void DiscPictureCache::keep(const DiscLook& look, const QImage& picture) {
  if (picture.isNull() || find(look)) return;
  mBytes += picture.sizeInBytes();
  mEntries.push_front({look, picture});
  while (mBytes > kBudget && mEntries.size() > 1) {
    mBytes -= mEntries.back().picture.sizeInBytes();
    mEntries.pop_back();
  }
}

void DiscPictureCache::clear() {
  mEntries.clear();
  mBytes = 0;
}

}  // namespace orrery
