#include "graph/graph_tile_factory.h"

#include "editor/planet_drawer.h"
#include "foundation/geometry.h"
#include "foundation/globals.h"
#include "foundation/image_builder.h"
#include "graph/graph.h"
#include "graph/tree_circle_layout.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

constexpr PlanetType kRootType = 4;
constexpr PlanetType kNodeType = 5;
constexpr double kTwoPi = 2.0 * M_PI;
// Ink beyond an item's geometry: half the widest stroke (2 content points) and antialiasing.
constexpr double kStrokeMargin = 2.0;

// Closed intervals: a rectangle that only touches another meets it.
bool meets(const QRectF& a, const QRectF& b) {
  return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

QRectF around(const QPointF& c, double half) { return QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half); }

// The sweep from a1 to a2 in the direction of growing angle.
double sweepFrom(double a1, double a2) {
  double sweep = std::fmod(a2 - a1, kTwoPi);
  if (sweep < 0) sweep += kTwoPi;
  return sweep;
}

void registerSegment(GraphTileIndex& index, std::int32_t item, const QPointF& p, const QPointF& q) {
  const double length = std::hypot(q.x() - p.x(), q.y() - p.y());
  const int pieces = std::max(1, static_cast<int>(std::min(1.0e6, std::ceil(length / index.cellSize()))));
  for (int i = 0; i < pieces; ++i) {
    const QPointF a = p + (q - p) * (static_cast<double>(i) / pieces);
    const QPointF b = p + (q - p) * (static_cast<double>(i + 1) / pieces);
    index.add(item, QRectF(a, b).normalized().adjusted(-kStrokeMargin, -kStrokeMargin, kStrokeMargin, kStrokeMargin));
  }
}

void registerArc(GraphTileIndex& index, std::int32_t item, const QPointF& c, double r, double start, double sweep) {
  const double step = std::min(M_PI / 8, index.cellSize() / std::max(r, 1.0));
  const int pieces = std::max(1, static_cast<int>(std::min(1.0e6, std::ceil(sweep / step))));
  const double piece = sweep / pieces;
  const double bulge = r * (1 - std::cos(piece / 2)) + kStrokeMargin;
  for (int i = 0; i < pieces; ++i) {
    const double a = start + piece * i, b = start + piece * (i + 1);
    const QPointF pa = c + QPointF(std::cos(a), std::sin(a)) * r;
    const QPointF pb = c + QPointF(std::cos(b), std::sin(b)) * r;
    index.add(item, QRectF(pa, pb).normalized().adjusted(-bulge, -bulge, bulge, bulge));
  }
}

}  // namespace

GraphTileFactory::GraphTileFactory(const IdeaPtr& idea, const GraphFilter& filter, bool centerToRoot)
    : mSnapshot(IdeaSnapshot::create(idea)) {
  build(filter, centerToRoot);
}

GraphTileFactory::GraphTileFactory(IdeaSnapshotPtr snapshot, const GraphFilter& filter, bool centerToRoot)
    : mSnapshot(snapshot ? std::move(snapshot) : IdeaSnapshot::createFromFrozen(nullptr)) {
  build(filter, centerToRoot);
}

GraphTileFactory::~GraphTileFactory() = default;

void GraphTileFactory::updateAppearance() {
  mFontSizeFactor = Globals::fontSizeFactor();
  mHighContrast = Globals::highContrastText();
}

void GraphTileFactory::build(const GraphFilter& filter, bool centerToRoot) {
  updateAppearance();
  const float r = PlanetDrawer::radiusForPlanetType(kNodeType);
  mExtra = r;
  {
    Graph graph(mSnapshot);
    TreeCircleLayout::layout(graph, 2.5f * r, 3.0f * r);
    mContentSize = graph.bounds().size();
    flatten(graph);
    const QPointF shift = centerToRoot ? mNodes.front().center - QPointF(mContentSize.width() * 0.5, mContentSize.height() * 0.5)
                                       : graph.bounds().topLeft();
    for (Node& node : mNodes) node.center -= shift;
  }
  mHasFilter = static_cast<bool>(filter);
  for (Node& node : mNodes) {
    if (node.parent > 0) {
      const float parentAngle = mNodes[static_cast<std::size_t>(node.parent)].angle;
      node.drawn = node.center + QPointF(mExtra * std::cos(parentAngle), mExtra * std::sin(parentAngle));
    } else {
      node.drawn = node.center;
    }
    if (mHasFilter && node.idea >= 0) node.faded = !filter(mSnapshot->node(node.idea));
  }
  indexItems();
}

void GraphTileFactory::flatten(const Graph& graph) {
  std::vector<std::int32_t> open;  // the index of each depth's current node
  graph.root()->traverseNaturally(
      [&](GraphNode& graphNode, std::int64_t depth) {
        const auto index = static_cast<std::int32_t>(mNodes.size());
        open.resize(static_cast<std::size_t>(depth));
        Node& node = mNodes.emplace_back();
        node.center = graphNode.center;
        node.angle = graphNode.angle;
        node.radius = graphNode.radius;
        node.idea = graphNode.ideaIndex();
        node.noteNumber = graphNode.noteNumber;
        node.childCount = static_cast<std::int32_t>(graphNode.size());
        if (!open.empty()) {
          node.parent = open.back();
          Node& parent = mNodes[static_cast<std::size_t>(node.parent)];
          if (parent.firstChild < 0) parent.firstChild = index;
          parent.lastChild = index;
        }
        open.push_back(index);
      },
      /*depth=*/0);
}

void GraphTileFactory::indexItems() {
  const auto count = static_cast<std::int32_t>(mNodes.size());
  // Painting order: every subtree's nodes before its root, children in order.
  mPostOrder.reserve(mNodes.size());
  std::vector<std::pair<std::int32_t, bool>> stack{{0, false}};
  // Children of each node in order, from the parent links (pre-order keeps them in order).
  std::vector<std::vector<std::int32_t>> children(mNodes.size());
  for (std::int32_t i = 1; i < count; ++i) children[static_cast<std::size_t>(mNodes[static_cast<std::size_t>(i)].parent)].push_back(i);
  while (!stack.empty()) {
    auto [index, expanded] = stack.back();
    stack.pop_back();
    if (expanded) {
      mPostOrder.push_back(index);
      continue;
    }
    stack.emplace_back(index, true);
    const auto& kids = children[static_cast<std::size_t>(index)];
    for (auto k = kids.rbegin(); k != kids.rend(); ++k) stack.emplace_back(*k, false);
  }
  mRankInPostOrder.assign(mNodes.size(), 0);
  for (std::size_t rank = 0; rank < mPostOrder.size(); ++rank)
    mRankInPostOrder[static_cast<std::size_t>(mPostOrder[rank])] = static_cast<std::int32_t>(rank);

  mLineIndex = GraphTileIndex(mContentSize);
  mPlanetIndex = GraphTileIndex(mContentSize);
  const Node& root = mNodes.front();
  for (std::int32_t i = 0; i < count; ++i) {
    const Node& node = mNodes[static_cast<std::size_t>(i)];
    const double half = 1.25 * PlanetDrawer::radiusForPlanetType(i == 0 ? kRootType : kNodeType);
    mPlanetIndex.add(mRankInPostOrder[static_cast<std::size_t>(i)], around(node.drawn, half));
    const auto item = static_cast<std::int32_t>(mLines.size());
    if (i == 0) {
      mLines.push_back({LineItem::Circle, i});
      const double radius = node.childCount > 0 ? mNodes[static_cast<std::size_t>(node.firstChild)].radius : 5.0 * mExtra;
      registerArc(mLineIndex, item, node.center, radius, 0, kTwoPi);
    } else if (node.childCount == 1) {
      mLines.push_back({LineItem::Segment, i});
      registerSegment(mLineIndex, item, node.drawn, mNodes[static_cast<std::size_t>(node.firstChild)].center);
    } else if (node.childCount >= 2) {
      mLines.push_back({LineItem::ArcWithSpoke, i});
      const Node& first = mNodes[static_cast<std::size_t>(node.firstChild)];
      const Node& last = mNodes[static_cast<std::size_t>(node.lastChild)];
      const QPointF o(mExtra * std::cos(node.angle), mExtra * std::sin(node.angle));
      const double a1 = std::atan2(static_cast<float>(first.center.y() - root.center.y()), static_cast<float>(first.center.x() - root.center.x()));
      const double a2 = std::atan2(static_cast<float>(last.center.y() - root.center.y()), static_cast<float>(last.center.x() - root.center.x()));
      const double radius = first.radius;
      registerSegment(mLineIndex, item, first.center + o, root.center + o + QPointF(std::cos(a1), std::sin(a1)) * radius);
      registerArc(mLineIndex, item, root.center + o, radius, a1, sweepFrom(a1, a2));
      registerSegment(mLineIndex, item, node.drawn,
                      root.center + o + radius * QPointF(std::cos(static_cast<double>(node.angle)), std::sin(static_cast<double>(node.angle))));
    }
  }
}

void GraphTileFactory::addLine(QPainterPath& path, const LineItem& item, double zoom) const {
  const Node& node = mNodes[static_cast<std::size_t>(item.node)];
  const Node& root = mNodes.front();
  switch (item.kind) {
    case LineItem::Circle: {
      const double radius = node.childCount > 0 ? mNodes[static_cast<std::size_t>(node.firstChild)].radius : 5.0 * mExtra;
      path.addEllipse(node.center * zoom, radius * zoom, radius * zoom);
      return;
    }
    case LineItem::Segment:
      path.moveTo(node.drawn * zoom);
      path.lineTo(mNodes[static_cast<std::size_t>(node.firstChild)].center * zoom);
      return;
    case LineItem::ArcWithSpoke: {
      const Node& first = mNodes[static_cast<std::size_t>(node.firstChild)];
      const Node& last = mNodes[static_cast<std::size_t>(node.lastChild)];
      const QPointF o(mExtra * std::cos(node.angle), mExtra * std::sin(node.angle));
      const float a1 = std::atan2(static_cast<float>(first.center.y() - root.center.y()), static_cast<float>(first.center.x() - root.center.x()));
      const float a2 = std::atan2(static_cast<float>(last.center.y() - root.center.y()), static_cast<float>(last.center.x() - root.center.x()));
      const double radius = first.radius * zoom;
      const QPointF c = (root.center + o) * zoom;
      path.moveTo((first.center + o) * zoom);
      // The painter's arc angles run the other way round (towards -y), in degrees.
      path.arcTo(around(c, radius), -a1 * 180.0 / M_PI, -sweepFrom(a1, a2) * 180.0 / M_PI);
      path.moveTo(node.drawn * zoom);
      path.lineTo(c + radius * QPointF(std::cos(static_cast<double>(node.angle)), std::sin(static_cast<double>(node.angle))));
      return;
    }
  }
}

QColor GraphTileFactory::titleColor(const ColorPtr& background) const {
  if (mHighContrast && background && background->isBright()) return QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f);
  return Globals::colorWhite();
}

void GraphTileFactory::drawTile(const QRectF& region, double zoom, QPainter& painter) const {
  if (!(zoom > 0) || !std::isfinite(zoom) || mNodes.empty()) return;
  const QRectF near = region.adjusted(-kStrokeMargin - 2 / zoom, -kStrokeMargin - 2 / zoom, kStrokeMargin + 2 / zoom,
                                      kStrokeMargin + 2 / zoom);
  // Connector lines: one path, stroked once.
  QPainterPath path;
  for (std::int32_t item : mLineIndex.itemsMeeting(near)) addLine(path, mLines[static_cast<std::size_t>(item)], zoom);
  painter.save();
  QPen pen(QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f));
  pen.setWidthF(std::min(2 * zoom, 0.5));
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(path);
  painter.restore();

  // Planets, children before their parent.
  const QRectF inside(region.topLeft() * zoom, region.size() * zoom);
  PlanetDrawer drawer(kNodeType);
  PlanetDrawer bare(kNodeType);  // for ideas of neither colour nor picture: nothing left over
  const bool titled = zoom >= static_cast<double>(0.05f);
  const std::int32_t fontFactor = mFontSizeFactor;
  // The drawer leaves the state as it found it, so each planet only moves the origin: one
  // transform change per planet instead of a save, a move and a restore, which a PDF page
  // writes out in full every time.
  painter.save();
  const QTransform base = painter.worldTransform();
  for (std::int32_t rank : mPlanetIndex.itemsMeeting(near)) {
    const std::int32_t index = mPostOrder[static_cast<std::size_t>(rank)];
    const Node& node = mNodes[static_cast<std::size_t>(index)];
    const IdeaSnapshotNode* idea = node.idea >= 0 ? &mSnapshot->node(node.idea) : nullptr;
    const bool plain = !idea || (!idea->color && idea->image.isNull());
    std::unique_ptr<PlanetDrawer> rootDrawer;
    if (index == 0) rootDrawer = std::make_unique<PlanetDrawer>(kRootType);
    PlanetDrawer& d = rootDrawer ? *rootDrawer : plain ? bare : drawer;
    d.setFade(mHasFilter && node.faded);
    d.setScale(static_cast<float>(zoom));
    d.setNoteNumber(mNoteStyle == 2 ? node.noteNumber : mNoteStyle == 1 ? (node.noteNumber >= 1 ? -1 : 0) : 0);
    const QSizeF size = d.scaledSize();
    const QRectF rect(node.drawn * zoom - QPointF(size.width() / 2, size.height() / 2), size);
    if (!meets(rect, inside)) continue;
    if (idea) {
      d.setBaseColor(idea->color);
      d.setImage(idea->image);
      d.setIsLink(idea->isLink());
      d.setShowWebLink(idea->hasURL());
    }
    d.setApproximateRendering(true);
    d.setText(titled && idea ? idea->text : QString());
    d.setIconImage(titled && idea ? idea->icon : nullptr);
    d.setFontSize(PlanetDrawer::fontSizeForPlanetType(d.planetType(), fontFactor));
    d.setTextColor(titleColor(idea ? idea->color : nullptr));
    painter.setWorldTransform(QTransform(base).translate(rect.x(), rect.y()));
    d.drawInCurrentContext(painter);
  }
  painter.restore();
}

QImage GraphTileFactory::createTile(const QRectF& region, const QSize& pixels) const {
  ImageBuilder builder;
  QPainter* painter = builder.startWithSize(QSizeF(pixels));
  if (!painter) return QImage();
  const double zoom = pixels.width() / region.width();
  painter->setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
  painter->save();
  painter->translate(-region.x() * zoom, -region.y() * zoom);
  drawTile(region, zoom, *painter);
  painter->restore();
  return builder.consumeImage();
}

std::int32_t GraphTileFactory::ideaIndexAtPoint(const QPointF& point) const {
  const std::int32_t node = [&] {
    std::int32_t first = -1;
    for (std::int32_t rank : mPlanetIndex.itemsMeeting(QRectF(point, QSizeF(0, 0)))) {
      const std::int32_t index = mPostOrder[static_cast<std::size_t>(rank)];
      const float reach = PlanetDrawer::radiusForPlanetType(index == 0 ? kRootType : kNodeType);
      if (Geometry::distanceFrom(point, mNodes[static_cast<std::size_t>(index)].drawn) <= reach && (first < 0 || index < first))
        first = index;
    }
    return first;
  }();
  return node < 0 ? -1 : mNodes[static_cast<std::size_t>(node)].idea;
}

IdeaPtr GraphTileFactory::ideaAtPoint(const QPointF& point) const {
  const std::int32_t index = ideaIndexAtPoint(point);
  return index < 0 ? nullptr : mSnapshot->liveIdea(index);
}

bool GraphTileFactory::noteAtPoint(const QPointF& point) const {
  const std::int32_t index = ideaIndexAtPoint(point);
  if (index < 0 || !mSnapshot->node(index).hasNote()) return false;
  PlanetDrawer drawer(index == 0 ? kRootType : kNodeType);
  drawer.setNoteNumber(1);
  drawer.setScale(1);
  return drawer.hitsNote(point - locationOfIdeaIndex(index));
}

QPointF GraphTileFactory::locationOfIdeaIndex(std::int32_t index) const {
  // Nodes are the snapshot's in the same pre-order, so an idea's index is its node's.
  if (index < 0 || index >= static_cast<std::int32_t>(mNodes.size()) || mNodes[static_cast<std::size_t>(index)].idea != index)
    return QPointF(0, 0);
  return mNodes[static_cast<std::size_t>(index)].drawn;
}

QPointF GraphTileFactory::ideaLocation(const IdeaPtr& idea) const {
  if (!idea) return QPointF(0, 0);
  for (std::int32_t i = 0; i < mSnapshot->size(); ++i)
    if (mSnapshot->liveIdea(i) == idea) return locationOfIdeaIndex(i);
  return QPointF(0, 0);
}

}  // namespace orrery
