#pragma once
// The emoji icon catalogue, read once from the resource "emoji_list.txt" and grouped by
// category in file order. Every picture is drawn in advance on a background queue.
//
// Catalogue lines: "#<category name>" opens a category (the name is the rest of the line,
// untrimmed); any other line with at least four ";"-separated fields is an icon whose field 0
// is the symbol and field 1 the name; other lines are skipped. Icons before the first "#"
// line belong to "UNKNOWN"; categories without icons are dropped.

#include "model/icon_image.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace orrery {

class IconImageCollection {
 public:
  // The catalogue of the application's resource, made on first use; its pictures start
  // drawing on the background queue at once.
  static IconImageCollection& instance();

  // A catalogue from the text of a catalogue file; no drawing starts.
  explicit IconImageCollection(const QString& catalogueText);

  const QStringList& categories() const { return mCategories; }
  // The icons of a category in file order; empty for a name that is not a category.
  const std::vector<IconImagePtr>& iconImagesByCategory(const QString& category) const;

  // Draws every picture, in category and file order, on the background global queue; `done`
  // (optional) then runs on the main queue.
  void preRenderImages(std::function<void()> done = {}) const;

 private:
  QHash<QString, std::vector<IconImagePtr>> mIconsByCategory;
  QStringList mCategories;
};

}  // namespace orrery
