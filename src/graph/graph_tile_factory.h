#pragma once
// The single renderer of a whole map: builds the graph of an idea snapshot, lays it out, moves
// it into content space (points at zoom 1, y down) and then draws any rectangle of that
// content at any zoom, into a caller's painter (exports, printing) or into a tile image (the
// overview graph's tile views, on their own queues). It also answers hit tests.
//
// Made on the main thread from a live idea, or on any thread from a snapshot; the filter runs
// once, here. After that the factory is only read: tiles may be drawn on any thread while the
// main thread hit-tests. Only the snapshot is read off the main thread; the live ideas behind
// it are answered on the main thread only (`ideaAtPoint`), and not at all once gone. The text
// size and contrast are captured when the factory is made and on `updateAppearance`.

#include "graph/graph_tile_index.h"
#include "model/idea_snapshot.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class QPainter;
class QPainterPath;

namespace orrery {

class Graph;

// Answers false for ideas a search rejects; they are drawn faded.
using GraphFilter = std::function<bool(const IdeaSnapshotNode& idea)>;

class GraphTileFactory {
 public:
  // Main thread.
  GraphTileFactory(const IdeaPtr& idea, const GraphFilter& filter, bool centerToRoot);
  // Any thread.
  GraphTileFactory(IdeaSnapshotPtr snapshot, const GraphFilter& filter, bool centerToRoot);
  ~GraphTileFactory();
  GraphTileFactory(const GraphTileFactory&) = delete;
  GraphTileFactory& operator=(const GraphTileFactory&) = delete;

  QSizeF contentSize() const { return mContentSize; }
  // 0 no note badges, 1 an indicator without number, 2 numbers in pre-order. Set before drawing.
  std::uint64_t noteStyle() const { return mNoteStyle; }
  void setNoteStyle(std::uint64_t style) { mNoteStyle = style; }
  // Main thread: takes the current text size and contrast for tiles drawn from now on.
  void updateAppearance();

  // Draws what falls into `region` (content coordinates) with content point p landing on the
  // painter's point p x zoom.
  void drawTile(const QRectF& region, double zoom, QPainter& painter) const;
  // A tile image of `pixels` showing `region`; zoom = pixel width / region width.
  QImage createTile(const QRectF& region, const QSize& pixels) const;

  // Hit tests, content coordinates. The snapshot index of the first node hit in pre-order, -1.
  std::int32_t ideaIndexAtPoint(const QPointF& point) const;
  // Main thread: the live idea hit, none when nothing is hit or the idea is gone.
  IdeaPtr ideaAtPoint(const QPointF& point) const;
  bool noteAtPoint(const QPointF& point) const;
  // Main thread: the drawn position of that very idea; (0, 0) when it is not in the graph.
  QPointF ideaLocation(const IdeaPtr& idea) const;
  // The drawn position of a snapshot index; (0, 0) when none.
  QPointF locationOfIdeaIndex(std::int32_t index) const;

  const IdeaSnapshotPtr& snapshot() const { return mSnapshot; }
  std::int32_t nodeCount() const { return static_cast<std::int32_t>(mNodes.size()); }

 private:
  struct Node {
    QPointF drawn;       // centre plus the outward shift below the first ring
    QPointF center;      // layout centre in content space
    float angle = 0;
    float radius = 0;
    std::int32_t idea = -1;  // snapshot index
    std::int32_t parent = -1;
    std::int32_t firstChild = -1;
    std::int32_t lastChild = -1;
    std::int32_t childCount = 0;
    std::int64_t noteNumber = 0;
    bool faded = false;
  };
  struct LineItem {
    enum Kind { Circle, Segment, ArcWithSpoke } kind;
    std::int32_t node;
  };

  void build(const GraphFilter& filter, bool centerToRoot);
  void flatten(const Graph& graph);
  void indexItems();
  void addLine(QPainterPath& path, const LineItem& item, double zoom) const;
  QRectF planetRect(const Node& node) const;
  QColor titleColor(const ColorPtr& background) const;

  IdeaSnapshotPtr mSnapshot;
  std::vector<Node> mNodes;             // pre-order
  std::vector<std::int32_t> mPostOrder; // painting order: children before their parent
  std::vector<std::int32_t> mRankInPostOrder;
  std::vector<LineItem> mLines;         // pre-order
  GraphTileIndex mLineIndex;
  GraphTileIndex mPlanetIndex;
  double mExtra = 56;
  QSizeF mContentSize;
  std::uint64_t mNoteStyle = 0;
  bool mHasFilter = false;
  std::atomic<std::int32_t> mFontSizeFactor{5};
  std::atomic<bool> mHighContrast{false};
};

}  // namespace orrery
