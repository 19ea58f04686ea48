#include "graph/scaled_graph_view.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/base_layer.h"
#include "graph/graph_tile_factory.h"
#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"

#include <QImage>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace orrery {

namespace {

std::int32_t truncatedIndex(double value) {
  if (!std::isfinite(value)) return 0;
  constexpr double kLimit = std::numeric_limits<std::int32_t>::max() / 2;
  return static_cast<std::int32_t>(std::trunc(std::clamp(value, -kLimit, kLimit)));
}

// Every tile render and queue teardown in the process. Rendering reads the application's
// fonts, so quitting cancels the renders not yet started and waits for the running ones and
// for the tile queues' threads before the application goes away.
struct Renders {
  platform::DispatchGroup running;
  std::atomic<std::uint64_t> generation{0};
};

Renders& renders() {
  static Renders* const r = [] {
    auto* made = new Renders;  // outlives every queue thread that may still touch it
    platform::addQuitWaiter("graph tiles", [made] {
      ++made->generation;
      if (!made->running.wait(std::chrono::seconds(10))) logLine(QStringLiteral("Quit: graph tiles still rendering"));
    });
    return made;
  }();
  return *r;
}

}  // namespace

// What the tile queue shares with the view. The mutex guards every field; it is never held
// while rendering or calling out.
struct ScaledGraphView::Shared {
  std::mutex mutex;
  std::condition_variable room;
  bool active = true;
  int inFlight = 0;
  GridPortion required, wanted, allowed;
  QPointF dataCenter;
  std::shared_ptr<const GraphTileFactory> factory;
  double scale = 1;
  double screenScale = 1;
  platform::WeakRef<ScaledGraphView> view;  // dereferenced on the main thread only

  // Waits for room among the images in flight; false once the view went inactive.
  bool acquire() {
    std::unique_lock lock(mutex);
    room.wait(lock, [&] { return !active || inFlight < kImagesInFlight; });
    if (!active) return false;
    ++inFlight;
    return true;
  }
  void release() {
    std::lock_guard lock(mutex);
    --inFlight;
    room.notify_all();
  }
  bool keeps(const GridCoordinate& coord) {
    std::lock_guard lock(mutex);
    return wanted.contains(coord) || allowed.contains(coord);
  }
};

QString ScaledGraphView::stringFromMode(int mode) {
  switch (mode) {
    case ScaledGraphViewModeIdle: return QStringLiteral("Idle");
    case ScaledGraphViewModeZoom: return QStringLiteral("Zoom");
    case ScaledGraphViewModeMove: return QStringLiteral("Move");
    default: return QStringLiteral("UNKNOWN");
  }
}

ScaledGraphView::ScaledGraphView(std::shared_ptr<const GraphTileFactory> factory, double zoomScale)
    : BaseView(std::make_shared<BaseLayer>()),
      mTileFactory(std::move(factory)),
      mShared(std::make_shared<Shared>()),
      mQueue(std::make_shared<platform::SerialQueue>("ScaledGraphView")),
      mScale(zoomScale),
      mScreenScale(Globals::screenScale()) {
  // Anchored at the origin, where the data centre falls: scaling the view keeps it in place.
  layer()->setAnchorPoint(QPointF(0, 0));
  setDisableAnimations(true);  // the scroll view rescales it every frame
  setFrame(QRectF(0, 0, 2, 2));
  layer()->setMasksToBounds(false);
  mShared->factory = mTileFactory;
  mShared->scale = mScale;
  mShared->screenScale = mScreenScale;
  mShared->view.reset(this);
}

ScaledGraphView::~ScaledGraphView() {
  // Wakes a render waiting for room; the queue then only finishes the task it runs. Its
  // thread is joined on a background queue, so dropping a view never waits for a render.
  setActive(false);
  Renders& all = renders();
  all.running.enter();
  platform::globalQueue(platform::QueuePriority::Background).async([queue = std::move(mQueue), &all]() mutable {
    queue.reset();
    all.running.leave();
  });
}

bool ScaledGraphView::active() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->active;
}

void ScaledGraphView::setActive(bool active) {
  std::lock_guard lock(mShared->mutex);
  mShared->active = active;
  mShared->room.notify_all();
}

int ScaledGraphView::imagesInFlight() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->inFlight;
}

QPointF ScaledGraphView::dataCenter() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->dataCenter;
}

GridPortion ScaledGraphView::requiredPortion() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->required;
}

GridPortion ScaledGraphView::wantedPortion() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->wanted;
}

GridPortion ScaledGraphView::allowedPortion() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->allowed;
}

GridPortion ScaledGraphView::calculateGridPortionFromDataRect(const QRectF& r) const {
  const double s = mScale, t = kTileSize;
  GridPortion portion;
  portion.firstColumn = truncatedIndex(r.x() * s / t);
  portion.lastColumn = truncatedIndex((r.x() + r.width() - 1) * s / t);
  portion.firstRow = truncatedIndex(r.y() * s / t);
  portion.lastRow = truncatedIndex((r.y() + r.height() - 1) * s / t);
  return portion;
}

void ScaledGraphView::setDataRect(const QRectF& rect, ScaledGraphViewMode mode) {
  // The queue starts on the new work only once all of it is queued.
  mQueue->suspend();
  doDataRect(rect, mode);
  mQueue->resume();
}

void ScaledGraphView::doDataRect(const QRectF& rect, ScaledGraphViewMode mode) {
  const GridPortion required = calculateGridPortionFromDataRect(rect);
  const GridPortion extended = calculateGridPortionFromDataRect(
      rect.adjusted(-rect.width() / 2, -rect.height() / 2, rect.width() / 2, rect.height() / 2));
  GridPortion old, wanted, allowed;
  {
    std::lock_guard lock(mShared->mutex);
    mShared->dataCenter = rect.center();
    mShared->required = required;
    old = mShared->wanted;
    switch (mode) {
      case ScaledGraphViewModeIdle: mShared->wanted = mShared->allowed = extended; break;
      case ScaledGraphViewModeZoom: mShared->wanted = mShared->allowed = required; break;
      default:
        mShared->wanted = required;
        mShared->allowed = extended;
        break;
    }
    wanted = mShared->wanted;
    allowed = mShared->allowed;
  }
  const auto visible = mVisibleLayersByKey;
  for (const auto& [coord, tile] : visible) {
    if (wanted.contains(coord) || allowed.contains(coord)) {
      tile->setPosition(layerPositionAt(coord));
    } else {
      mVisibleLayersByKey.erase(coord);
      recycle(tile);
    }
  }
  int queued = 0;
  for (std::int32_t row = wanted.firstRow; row <= wanted.lastRow; ++row)
    for (std::int32_t col = wanted.firstColumn; col <= wanted.lastColumn; ++col) {
      const GridCoordinate coord{row, col};
      if (old.contains(coord) || mVisibleLayersByKey.count(coord)) continue;
      mQueue->async([shared = mShared, coord, generation = renders().generation.load()] {
        // Only the snapshot behind the factory is read here.
        {
          std::lock_guard lock(shared->mutex);
          if (!shared->wanted.contains(coord) || !shared->active) return;
        }
        Renders& all = renders();
        all.running.enter();  // before the check, so a quit either cancels or waits for us
        if (all.generation.load() != generation) {
          all.running.leave();
          return;
        }
        const double span = kTileSize / shared->scale;
        const int pixels = static_cast<int>(std::lround(kTileSize * shared->screenScale));
        QImage image = shared->factory->createTile(QRectF(coord.col * span, coord.row * span, span, span), QSize(pixels, pixels));
        all.running.leave();
        // Waiting for room happens outside the count: the main thread frees it.
        if (!shared->keeps(coord) || !shared->acquire()) return;
        platform::mainQueue().async([shared, image = std::move(image), coord] {
          shared->release();
          ScaledGraphView* view = shared->view.get();
          if (view && shared->keeps(coord)) view->addLayer(image, coord);
        });
      });
      ++queued;
    }
  if (queued == 0) return;
  mQueue->async([shared = mShared] {
    platform::mainQueue().async([shared] {
      ScaledGraphView* view = shared->view.get();
      if (!view) return;
      view->mReady = view->checkIfReady();
      if (view->mReady && view->active())
        if (ScaledGraphViewDelegate* delegate = view->delegate()) delegate->handleScaledGraphViewReady(*view);
    });
  });
}

void ScaledGraphView::addLayer(const QImage& image, const GridCoordinate& coord) {
  if (!platform::mainQueue().isCurrent()) logLine(QStringLiteral("ERROR: Assertion failure, line: 247 -[ScaledGraphView addLayerWithImage:atPosition:atCoordinates:]"));
  std::shared_ptr<GraphTileLayer> tile = dequeueReusableLayer();
  if (mVisibleLayersByKey.count(coord)) {
    recycle(tile);
    return;
  }
  tile->setCoord(coord);
  tile->setContents(image);
  tile->setPosition(layerPositionAt(coord));
  mVisibleLayersByKey.emplace(coord, std::move(tile));
}

std::shared_ptr<GraphTileLayer> ScaledGraphView::dequeueReusableLayer() {
  if (!mReusableLayers.empty()) {
    std::shared_ptr<GraphTileLayer> tile = std::move(mReusableLayers.back());
    mReusableLayers.pop_back();
    tile->setHidden(false);
    return tile;
  }
  auto tile = std::make_shared<GraphTileLayer>();
  tile->setContentsScale(mScreenScale);
  tile->setBounds(QRectF(0, 0, kTileSize, kTileSize));
  layer()->addSublayer(tile);
  return tile;
}

void ScaledGraphView::recycle(const std::shared_ptr<GraphTileLayer>& tile) {
  tile->setHidden(true);
  tile->setContents(QImage());
  mReusableLayers.push_back(tile);
}

QPointF ScaledGraphView::layerPositionAt(const GridCoordinate& coord) const {
  const QPointF center = dataCenter();
  const double t = kTileSize;
  return QPointF(std::floor(coord.col * t + t / 2 - center.x() * mScale), std::floor(coord.row * t + t / 2 - center.y() * mScale));
}

bool ScaledGraphView::checkIfReady() const {
  const GridPortion required = requiredPortion();
  if (required.isEmpty()) return true;
  for (std::int32_t row = required.firstRow; row <= required.lastRow; ++row)
    for (std::int32_t col = required.firstColumn; col <= required.lastColumn; ++col)
      if (!mVisibleLayersByKey.count(GridCoordinate{row, col})) return false;
  return true;
}

}  // namespace orrery
