#include "editor/disc_picture_cache.h"

#include "editor/planet_drawer.h"

#include <QHashFunctions>

#include <iterator>
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

std::size_t DiscLook::hash() const {
  // What tells discs of one view apart comes first: their titles, colours and pictures.
  return qHashMulti(0, text, hasText, hasColor, static_cast<quint64>(color), picture, icon.get(), noteNumber,
                    planetType, scale, fontSize, static_cast<quint64>(textColor), showOrbit, isLink, fade, webLink,
                    size.width(), size.height(), contentsScale);
}

DiscPictureCache& DiscPictureCache::shared() {
  static DiscPictureCache cache;
  return cache;
}

DiscPictureCache::Entries::iterator DiscPictureCache::lookUp(const DiscLook& look, std::size_t hash) {
  const auto [from, to] = mByHash.equal_range(hash);
  for (auto it = from; it != to; ++it)
    if (it->second->look == look) return it->second;
  return mEntries.end();
}

const QImage* DiscPictureCache::find(const DiscLook& look) {
  const auto it = lookUp(look, look.hash());
  if (it == mEntries.end()) return nullptr;
  mEntries.splice(mEntries.begin(), mEntries, it);
  return &it->picture;
}

void DiscPictureCache::keep(const DiscLook& look, const QImage& picture) {
  if (picture.isNull()) return;
  const std::size_t hash = look.hash();
  if (const auto it = lookUp(look, hash); it != mEntries.end()) {
    mEntries.splice(mEntries.begin(), mEntries, it);
    return;
  }
  mBytes += picture.sizeInBytes();
  mEntries.push_front({look, hash, picture});
  mByHash.emplace(hash, mEntries.begin());
  while (mBytes > kBudget && mEntries.size() > 1) {
    const auto last = std::prev(mEntries.end());
    const auto [from, to] = mByHash.equal_range(last->hash);
    for (auto it = from; it != to; ++it)
      if (it->second == last) {
        mByHash.erase(it);
        break;
      }
    mBytes -= last->picture.sizeInBytes();
    mEntries.erase(last);
  }
}

void DiscPictureCache::clear() {
  mByHash.clear();
  mEntries.clear();
  mBytes = 0;
}

}  // namespace orrery
