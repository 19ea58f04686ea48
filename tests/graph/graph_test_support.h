#pragma once
// Trees for the graph tests: a seeded random map, a deep branch beside many leaves, and the
// layout as the balanced copy computes it (fillers built, results copied back by identifier),
// kept here as the reference the layout must match.

#include "graph/graph.h"
#include "graph/tree_circle_layout.h"
#include "model/idea.h"

#include <QHash>

#include <cmath>
#include <random>

namespace graphtest {

using orrery::Idea;
using orrery::IdeaPtr;

inline IdeaPtr idea(const QString& id) { return Idea::createWithText(id, id); }

// `count` ideas, each hung under a random earlier one, identifiers "n<i>".
inline IdeaPtr randomTree(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<IdeaPtr> all{idea(QStringLiteral("n0"))};
  for (int i = 1; i < count; ++i) {
    // Skewed towards recent ideas so that trees get deep as well as wide.
    std::uniform_int_distribution<int> pick(std::max(0, i - 1 - static_cast<int>(random() % 40)), i - 1);
    IdeaPtr child = idea(QStringLiteral("n%1").arg(i));
    all[static_cast<std::size_t>(pick(random))]->addIdea(child);
    all.push_back(child);
  }
  return all.front();
}

// A chain of `depth` ideas beside `leaves` leaves of the root.
inline IdeaPtr deepChainBesideLeaves(int depth, int leaves) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr end = root;
  for (int d = 0; d < depth; ++d) {
    IdeaPtr next = idea(QStringLiteral("c%1").arg(d));
    end->addIdea(next);
    end = next;
  }
  for (int i = 0; i < leaves; ++i) root->addIdea(idea(QStringLiteral("l%1").arg(i)));
  return root;
}

// Angles, radii and the copy-back exactly as the balanced copy gives them, then the shared
// finishing steps.
inline void referenceLayout(orrery::Graph& graph, float nodeSize, float ringStep) {
  using orrery::GraphNode;
  const double elem = nodeSize, inc = ringStep;
  auto balanced = orrery::GraphBalancingAlgorithm::createBalancedGraphFrom(graph);
  const std::int64_t levels = balanced->levels();
  const auto& deepest = balanced->nodesAtLevel(levels - 1);
  const auto n = static_cast<std::int32_t>(deepest.size());
  for (std::int32_t i = 0; i < n; ++i) deepest[static_cast<std::size_t>(i)]->angle = static_cast<float>(2.0 * M_PI * i / n);
  for (std::int64_t d = levels - 2; d >= 0; --d)
    for (GraphNode* node : balanced->nodesAtLevel(d)) {
      if (node->size() == 1) node->angle = node->firstNodeOrNil()->angle;
      else if (node->size() >= 2) node->angle = (node->firstNodeOrNil()->angle + node->lastNodeOrNil()->angle) * 0.5f;
    }
  std::vector<double> r(static_cast<std::size_t>(levels), 0.0);
  for (std::size_t l = 1; l < r.size(); ++l)
    r[l] = std::max(r[l - 1] + inc,
                    elem / orrery::TreeCircleLayout::findSmallestNonZeroAngleDistance(balanced->nodesAtLevel(static_cast<std::int64_t>(l))));
  for (std::size_t i = r.size() - 1; i >= 2 && i < r.size(); --i) {
    const double v = r[i - 2] + static_cast<double>(0.3f) * (r[i] - r[i - 2]);
    if (v > r[i - 1]) r[i - 1] = v;
  }
  balanced->traverseNaturally([&](GraphNode& node, std::int64_t depth) { node.radius = static_cast<float>(r[static_cast<std::size_t>(depth)]); });
  // By identifier, the last match winning as a walk of the whole copy would find it.
  QHash<QString, const GraphNode*> byIdentifier;
  balanced->traverseNaturally([&](GraphNode& node, std::int64_t /*depth*/) {
    if (node.idea()) byIdentifier.insert(node.idea()->identifier, &node);
  });
  graph.traverseNaturally([&](GraphNode& node, std::int64_t /*depth*/) {
    const GraphNode* source = byIdentifier.value(node.idea()->identifier);
    node.angle = source->angle;
    node.radius = source->radius;
  });
  orrery::TreeCircleLayout::fineTuneFinalGraph(graph, elem);
  orrery::TreeCircleLayout::calculatePositions(graph, elem, inc);
}

}  // namespace graphtest
