#pragma once
// A PNG picture of a whole map through the map renderer: at its natural size (one pixel a
// point), shrunk when either side would pass 4096 pixels, on white or transparent. Draws on
// the calling thread from a copy of the tree nobody changes.

#include "model/idea.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace orrery {

class GraphTileFactory;

class ImageExporter {
 public:
  static constexpr double kMaxSide = 4096;

  // `frozen`: a snapshot copy (Idea::snapshotCopy) or a copy nobody else holds.
  static QByteArray generatePNGImageFromIdea(const IdeaPtr& frozen, bool transparency, QString* error);
  static QByteArray generatePNGImageWithFactory(const GraphTileFactory& factory, bool transparency, QString* error);
  // The picture itself; null with `error` set when it cannot be made.
  static QImage renderImage(const GraphTileFactory& factory, bool transparency, QString* error);
};

}  // namespace orrery
