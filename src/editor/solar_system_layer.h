#pragma once
// The orbit ring of the radial view: a thin light-grey circle of `radius` around the centre
// of the layer's bounds. The radial view sets the radius on every layout pass (each rotation
// frame), so only a new radius redraws the ring. The layer is much larger than the ring it
// usually holds; its picture covers only the ring's square. While a drill changes the radius
// every frame, the ring is stroked straight into each composition instead, so no frame
// redraws (and clears) a picture of the ring's square. Main thread only.

#include "foundation/views/base_layer.h"

#include <memory>

namespace orrery {

class SolarSystemLayer : public BaseLayer {
 public:
  SolarSystemLayer();
  static std::shared_ptr<SolarSystemLayer> layer() { return std::make_shared<SolarSystemLayer>(); }

  // The orbit radius of the radial view before scaling.
  static constexpr int naturalRadius() { return 202; }

  double radius() const { return mRadius; }
  void setRadius(double radius);

  // Stroked into each composition rather than kept as a picture (while its radius animates).
  void setStrokedEachComposition(bool stroked);

  bool drawsContent() const override { return true; }
  bool drawsEachComposition() const override { return mStrokedEachComposition; }
  QRectF drawnArea(const QRectF& bounds) const override;
  void drawInContext(QPainter& painter) override;

 private:
  double mRadius = 0;
  bool mStrokedEachComposition = false;
};

}  // namespace orrery
