#pragma once
// The overview graph at one fixed zoom scale, as a grid of square tiles 424 points wide. Told
// which content rectangle is on screen and how the user moves (idle, zooming, panning), it
// works out the tiles required, wanted and allowed, renders the missing ones on its own serial
// queue ("ScaledGraphView") one at a time, adds them as layers on the main thread, recycles
// the ones that fell out and tells its delegate once every required tile is present.
//
// The view itself is 2 x 2 points; its owner places it where the screen's centre is, and the
// tile layers sit around its origin so that the data centre falls on it. At most 10 rendered
// tiles wait for the main thread; making the view inactive (or dropping it) wakes a render
// waiting for room and drops its image, so a closed window never leaves the queue blocked.
// Quitting cancels the renders of every view not yet started and waits for the running ones
// and for the queues of dropped views, so no tile is drawn once the application is gone.
// Main thread, except the rendering, which reads only the factory's snapshot.

#include "foundation/views/base_view.h"
#include "foundation/views/user_interaction_protocol.h"
#include "graph/graph_tile_layer.h"

#include <QPointF>
#include <QRectF>

#include <memory>
#include <unordered_map>
#include <vector>

namespace platform {
class SerialQueue;
}

namespace orrery {

class GraphTileFactory;
class ScaledGraphView;

enum ScaledGraphViewMode : int { ScaledGraphViewModeIdle = 0, ScaledGraphViewModeZoom = 1, ScaledGraphViewModeMove = 2 };

class ScaledGraphViewDelegate : public virtual platform::Trackable {
 public:
  virtual void handleScaledGraphViewReady(ScaledGraphView& /*view*/) {}
};

class ScaledGraphView : public BaseView, public UserInteractionProtocol {
 public:
  static constexpr double kTileSize = 424;
  static constexpr int kImagesInFlight = 10;
  static double tileSize() { return kTileSize; }
  static QString stringFromMode(int mode);

  ScaledGraphView(std::shared_ptr<const GraphTileFactory> factory, double zoomScale);
  ~ScaledGraphView() override;

  void setDataRect(const QRectF& rect, ScaledGraphViewMode mode);

  bool ready() const { return mReady; }
  bool active() const;
  void setActive(bool active);
  ScaledGraphViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ScaledGraphViewDelegate* delegate) { mDelegate.reset(delegate); }
  double zoomScale() const { return mScale; }
  QPointF dataCenter() const;
  GridPortion requiredPortion() const;
  GridPortion wantedPortion() const;
  GridPortion allowedPortion() const;
  GridPortion calculateGridPortionFromDataRect(const QRectF& rect) const;

  // The tile layers on screen, by coordinate, and the hidden ones kept for reuse.
  const std::unordered_map<GridCoordinate, std::shared_ptr<GraphTileLayer>, GridCoordinateHash>& visibleLayers() const {
    return mVisibleLayersByKey;
  }
  std::size_t reusableLayerCount() const { return mReusableLayers.size(); }
  // Rendered tiles handed to the main queue and not yet taken (tests, diagnostics).
  int imagesInFlight() const;

  void setUserInteractionEnabled(bool /*enabled*/) override {}
  bool userInteractionEnabled() const override { return true; }

 private:
  struct Shared;

  void doDataRect(const QRectF& rect, ScaledGraphViewMode mode);
  void processCoord(const GridCoordinate& coord);
  void addLayer(const QImage& image, const GridCoordinate& coord);
  std::shared_ptr<GraphTileLayer> dequeueReusableLayer();
  void recycle(const std::shared_ptr<GraphTileLayer>& layer);
  QPointF layerPositionAt(const GridCoordinate& coord) const;
  bool checkIfReady() const;

  std::shared_ptr<const GraphTileFactory> mTileFactory;
  // Shared with the queued blocks, which may outlive the view.
  std::shared_ptr<Shared> mShared;
  // Let go on a background queue: its thread may be in the middle of a render.
  std::shared_ptr<platform::SerialQueue> mQueue;
  std::unordered_map<GridCoordinate, std::shared_ptr<GraphTileLayer>, GridCoordinateHash> mVisibleLayersByKey;
  std::vector<std::shared_ptr<GraphTileLayer>> mReusableLayers;
  double mScale;
  double mScreenScale;
  bool mReady = false;
  platform::WeakRef<ScaledGraphViewDelegate> mDelegate;
};

}  // namespace orrery
