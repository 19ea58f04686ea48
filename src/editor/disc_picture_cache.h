#pragma once
// Disc pictures kept by what they show, so a view that shows discs seen before (drilling back
// out to an idea, reopening a map) shows the kept pictures instead of drawing them again. The
// look holds everything a disc's pixels depend on: any difference, however small (a colour,
// a title, a badge, the scale, the screen's scale), is another picture. The least recently
// used go beyond a byte budget; a picture still shown by a layer costs no extra memory, since
// images share their pixels. Looks are found by their hash: a turn of a crowded ring looks up
// every disc it shows, with thousands of pictures kept. Main thread only.

#include "model/icon_image.h"

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

namespace orrery {

class PlanetDrawer;

struct DiscLook {
  // What the drawer shows.
  std::uint64_t planetType = 0;
  float scale = 1;
  float fontSize = 0;
  QRgba64 textColor{};
  QString text;
  bool hasText = false;
  bool hasColor = false;
  QRgba64 color{};
  qint64 picture = 0;  // the picture's cache key, 0 for none
  IconImagePtr icon;   // held, so its address is never another icon's
  bool showOrbit = false, isLink = false, fade = false, webLink = false;
  std::int64_t noteNumber = 0;
  // Where it is drawn.
  QSizeF size;
  double contentsScale = 1;

  static DiscLook of(const PlanetDrawer& drawer, const QSizeF& size, double contentsScale);
  bool operator==(const DiscLook& other) const;
  std::size_t hash() const;
};

class DiscPictureCache {
 public:
  static constexpr qsizetype kBudget = 64 << 20;

  static DiscPictureCache& shared();

  // The picture kept for the look, or none.
  const QImage* find(const DiscLook& look);
  void keep(const DiscLook& look, const QImage& picture);
  void clear();

 private:
  struct Entry {
    DiscLook look;
    std::size_t hash;
    QImage picture;
  };
  using Entries = std::list<Entry>;
  Entries::iterator lookUp(const DiscLook& look, std::size_t hash);

  Entries mEntries;  // the most recently used first
  std::unordered_multimap<std::size_t, Entries::iterator> mByHash;
  qsizetype mBytes = 0;
};

}  // namespace orrery
