#pragma once
// The connector line from the parent idea to the sun: drawn at a fixed length and laid onto
// any segment by its transform (translate to A, rotate toward B, scale by the segment's
// length over the drawn length). It is stroked into each composition: a kept picture would
// be resampled through the rotation on every frame, which costs more. The scale
// applies to the whole layer: the visible line stops 1 % short of both ends and its width
// and dashes follow the segment's length. Main thread only.

#include "platform/ui/layer.h"

#include <QPointF>

#include <memory>

namespace orrery {

class LineLayer : public platform::Layer {
 public:
  LineLayer(const QPointF& from, const QPointF& to, bool dashed);
  static std::shared_ptr<LineLayer> create(const QPointF& from, const QPointF& to, bool dashed) {
    return std::make_shared<LineLayer>(from, to, dashed);
  }

  float lineLength() const { return mLineLen; }
  bool usesDash() const { return mUsesDash; }

  // The transform that puts the line on the segment from `from` to `to`.
  QTransform transformForLine(const QPointF& from, const QPointF& to) const;
  void transformToLine(const QPointF& from, const QPointF& to);
  // Sets the transform without animation (every caller wants it at once).
  void animateToLine(const QPointF& from, const QPointF& to, bool immediate);

  bool drawsContent() const override { return true; }
  bool drawsEachComposition() const override { return true; }
  void drawInContext(QPainter& painter) override;

 private:
  float mLineLen = 1000;
  bool mUsesDash = false;
};

}  // namespace orrery
