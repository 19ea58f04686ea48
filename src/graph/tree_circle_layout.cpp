#include "graph/tree_circle_layout.h"

#include "foundation/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orrery {

namespace {

constexpr double kTwoPi = 2.0 * M_PI;

// The gap between two neighbours: the difference in single precision, the rest in double.
double angleGap(float previous, float next) {
  return std::fmod(static_cast<double>(next - previous) + kTwoPi, kTwoPi);
}

// Running smallest gap of one level, in level order.
struct LevelGap {
  double best = kTwoPi;
  float last = 0;
  bool any = false;

  void add(float angle) {
    if (any) {
      const double gap = angleGap(last, angle);
      if (gap > 0 && gap < best) best = gap;
    }
    last = angle;
    any = true;
  }
};

double roundAwayFromZero(double value) { return value > 0 ? std::ceil(value) : std::floor(value); }

}  // namespace

void TreeCircleLayout::layout(Graph& graph, float nodeSize, float radiusIncrement) {
  TreeCircleLayout(graph, nodeSize, radiusIncrement);
}

TreeCircleLayout::TreeCircleLayout(Graph& graph, float nodeSize, float radiusIncrement)
    : ELEM_SIZE(nodeSize), RADIUS_INC(radiusIncrement), mGraphToLayout(graph) {
  calculateAngles();
  calculateLevelRadiuses();
  balanceLevelRadiuses();
  applyLevelRadiusesToNodes();
  fineTuneFinalGraph(graph, ELEM_SIZE);
  calculatePositions(graph, ELEM_SIZE, RADIUS_INC);
}

double TreeCircleLayout::findSmallestNonZeroAngleDistance(const std::vector<GraphNode*>& nodes) {
  LevelGap gap;
  for (const GraphNode* node : nodes) gap.add(node->angle);
  return gap.best;
}

void TreeCircleLayout::calculateAngles() {
  Graph& graph = mGraphToLayout;
  const std::int64_t levels = graph.levels();
  mLevelGaps.assign(static_cast<std::size_t>(std::max<std::int64_t>(levels, 0)), kTwoPi);
  if (levels < 1) return;
  // The deepest level of the balanced graph holds one slot per leaf, in pre-order.
  std::vector<GraphNode*> leaves;
  graph.traverseNaturally([&](GraphNode& node, std::int64_t /*depth*/) {
    if (node.size() == 0) leaves.push_back(&node);
  });
  const auto slotCount = static_cast<std::int32_t>(leaves.size());
  for (std::int32_t i = 0; i < slotCount; ++i)
    leaves[static_cast<std::size_t>(i)]->angle = static_cast<float>(kTwoPi * i / slotCount);
  // Up the levels: a parent takes its only child's angle, or the midpoint of its first and last.
  for (std::int64_t depth = levels - 2; depth >= 0; --depth) {
    for (GraphNode* node : graph.nodesAtLevel(depth)) {
      if (node->size() == 1)
        node->angle = node->firstNodeOrNil()->angle;
      else if (node->size() >= 2)
        node->angle = (node->firstNodeOrNil()->angle + node->lastNodeOrNil()->angle) * 0.5f;
    }
  }
  calculateLevelGaps();
}

// The smallest gap of each balanced level without listing the levels. Level d lists, in
// pre-order, the nodes of depth d and every leaf above it (through its fillers). Entries never
// leave a deeper level, they are only replaced by their children, so a pair of neighbours in
// level d either has a member of depth d, or is two leaves that were neighbours since the
// level of the deeper one, and stay so below. So each node of depth d is paired with its
// neighbours in level d (the nearest node of depth d or leaf above d on either side), a pair of
// two leaves counts for its level and every deeper one, and the work is N log L, not N x L.
void TreeCircleLayout::calculateLevelGaps() {
  const std::int64_t levels = mGraphToLayout.levels();
  std::vector<GraphNode*> order;
  std::vector<std::int32_t> depthOf;
  mGraphToLayout.traverseNaturally([&](GraphNode& node, std::int64_t depth) {
    order.push_back(&node);
    depthOf.push_back(static_cast<std::int32_t>(depth));
  });
  const auto count = static_cast<std::int32_t>(order.size());
  auto isLeaf = [&](std::int32_t i) { return order[static_cast<std::size_t>(i)]->size() == 0; };
  // The nearest leaf above depth d before (after) each node, by a Fenwick tree over depths
  // holding the latest (earliest) leaf index seen so far.
  std::vector<std::int32_t> leafBefore(order.size(), -1), leafAfter(order.size(), -1);
  {
    std::vector<std::int32_t> tree(static_cast<std::size_t>(levels) + 1, -1);
    for (std::int32_t i = 0; i < count; ++i) {
      std::int32_t best = -1;
      for (std::int64_t k = depthOf[static_cast<std::size_t>(i)]; k > 0; k -= k & -k) best = std::max(best, tree[static_cast<std::size_t>(k)]);
      leafBefore[static_cast<std::size_t>(i)] = best;
      if (isLeaf(i))
        for (std::int64_t k = depthOf[static_cast<std::size_t>(i)] + 1; k <= levels; k += k & -k) tree[static_cast<std::size_t>(k)] = i;
    }
    std::fill(tree.begin(), tree.end(), count);
    for (std::int32_t i = count - 1; i >= 0; --i) {
      std::int32_t best = count;
      for (std::int64_t k = depthOf[static_cast<std::size_t>(i)]; k > 0; k -= k & -k) best = std::min(best, tree[static_cast<std::size_t>(k)]);
      leafAfter[static_cast<std::size_t>(i)] = best == count ? -1 : best;
      if (isLeaf(i))
        for (std::int64_t k = depthOf[static_cast<std::size_t>(i)] + 1; k <= levels; k += k & -k) tree[static_cast<std::size_t>(k)] = i;
    }
  }
  std::vector<double> local(static_cast<std::size_t>(levels), kTwoPi), fromLeafPairs(static_cast<std::size_t>(levels), kTwoPi);
  auto pair = [&](std::int32_t first, std::int32_t second, std::int64_t level) {
    const double gap = angleGap(order[static_cast<std::size_t>(first)]->angle, order[static_cast<std::size_t>(second)]->angle);
    if (!(gap > 0)) return;
    auto& best = isLeaf(first) && isLeaf(second) ? fromLeafPairs : local;
    best[static_cast<std::size_t>(level)] = std::min(best[static_cast<std::size_t>(level)], gap);
  };
  std::vector<std::int32_t> lastAtDepth(static_cast<std::size_t>(levels), -1);
  std::vector<std::int32_t> previousAtDepth(order.size(), -1), nextAtDepth(order.size(), -1);
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t& last = lastAtDepth[static_cast<std::size_t>(depthOf[static_cast<std::size_t>(i)])];
    previousAtDepth[static_cast<std::size_t>(i)] = last;
    if (last >= 0) nextAtDepth[static_cast<std::size_t>(last)] = i;
    last = i;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int64_t d = depthOf[static_cast<std::size_t>(i)];
    const std::int32_t before = std::max(previousAtDepth[static_cast<std::size_t>(i)], leafBefore[static_cast<std::size_t>(i)]);
    std::int32_t after = nextAtDepth[static_cast<std::size_t>(i)];
    const std::int32_t leaf = leafAfter[static_cast<std::size_t>(i)];
    if (leaf >= 0 && (after < 0 || leaf < after)) after = leaf;
    if (before >= 0) pair(before, i, d);
    if (after >= 0) pair(i, after, d);
  }
  double carried = kTwoPi;
  for (std::size_t d = 0; d < static_cast<std::size_t>(levels); ++d) {
    carried = std::min(carried, fromLeafPairs[d]);
    mLevelGaps[d] = std::min(local[d], carried);
  }
}

void TreeCircleLayout::calculateLevelRadiuses() {
  const std::int64_t levels = mGraphToLayout.levels();
  mLevelRadiuses.assign(static_cast<std::size_t>(std::max<std::int64_t>(levels, 1)), 0.0);
  for (std::size_t level = 1; level < static_cast<std::size_t>(levels); ++level)
    mLevelRadiuses[level] = std::max(mLevelRadiuses[level - 1] + RADIUS_INC, ELEM_SIZE / mLevelGaps[level]);
}

void TreeCircleLayout::balanceLevelRadiuses() {
  const double progress = static_cast<double>(0.3f);
  for (std::int64_t i = mGraphToLayout.levels() - 1; i >= 2; --i) {
    auto& r = mLevelRadiuses;
    const auto at = static_cast<std::size_t>(i);
    const double v = Geometry::interpolateLinearlyFromDouble(r[at - 2], r[at], progress);
    if (v > r[at - 1]) r[at - 1] = v;
  }
}

void TreeCircleLayout::applyLevelRadiusesToNodes() {
  mGraphToLayout.traverseNaturally([&](GraphNode& node, std::int64_t depth) {
    node.radius = static_cast<float>(mLevelRadiuses[static_cast<std::size_t>(depth)]);
  });
}

void TreeCircleLayout::fineTuneFinalGraph(Graph& graph, double elemSize) {
  // Note numbers in pre-order, and leaf groups fanned about their parent's direction.
  std::int64_t counter = 1;
  graph.traverseNaturally([&](GraphNode& node, std::int64_t depth) {
    if (node.idea() && node.idea()->hasNote()) node.noteNumber = counter++;
    const std::int64_t n = node.size();
    if (depth < 1 || n < 1) return;
    for (const auto& child : node.children())
      if (child->size() > 0) return;
    for (std::int64_t i = 0; i < n; ++i) {
      GraphNode* child = node.getNode(i);
      const float offset = static_cast<float>(i) - (static_cast<float>(n) * 0.5f - 0.5f);
      const double step = elemSize / static_cast<double>(child->radius);
      child->angle = static_cast<float>(static_cast<double>(node.angle) + offset * step);
    }
  });
}

void TreeCircleLayout::calculatePositions(Graph& graph, double elemSize, double radiusInc) {
  std::int64_t minX = std::numeric_limits<std::int32_t>::max(), minY = minX;
  std::int64_t maxX = std::numeric_limits<std::int32_t>::min(), maxY = maxX;
  graph.traverseNaturally([&](GraphNode& node, std::int64_t /*depth*/) {
    const double angle = node.angle;
    const double radius = node.radius;
    const double x = roundAwayFromZero(std::cos(angle) * radius);
    const double y = roundAwayFromZero(std::sin(angle) * radius);
    if (static_cast<double>(minX) > x) minX = static_cast<std::int64_t>(x);
    if (x > static_cast<double>(maxX)) maxX = static_cast<std::int64_t>(x);
    if (static_cast<double>(minY) > y) minY = static_cast<std::int64_t>(y);
    if (y > static_cast<double>(maxY)) maxY = static_cast<std::int64_t>(y);
    node.center = QPointF(x, y);
  });
  auto trunc = [](double v) { return static_cast<std::int64_t>(v); };
  minX = trunc(std::min(static_cast<double>(minX), -radiusInc)) ;
  minY = trunc(std::min(static_cast<double>(minY), -radiusInc));
  maxX = trunc(std::max(radiusInc, static_cast<double>(maxX)));
  maxY = trunc(std::max(radiusInc, static_cast<double>(maxY)));
  minX = trunc(static_cast<double>(minX) - elemSize);
  minY = trunc(static_cast<double>(minY) - elemSize);
  maxX = trunc(static_cast<double>(maxX) + elemSize);
  maxY = trunc(static_cast<double>(maxY) + elemSize);
  graph.setBounds(QRectF(static_cast<double>(minX) - elemSize, static_cast<double>(minY) - elemSize,
                         static_cast<double>(maxX - minX) + 2 * elemSize, static_cast<double>(maxY - minY) + 2 * elemSize));
}

}  // namespace orrery
