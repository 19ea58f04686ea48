#pragma once
// Places every node of a graph on concentric circles around the root: depth d on circle d,
// each subtree in its own sector, circles far enough apart that neighbours do not overlap.
// Runs once, synchronously, on the calling thread; the results stay in the graph's nodes
// (angle, radius, centre, note number) and its bounds.
//
// The sectors are those of the balanced copy, in which every leaf above the deepest level
// carries a chain of fillers down to it. A filler chain holds exactly one slot on each deeper
// level at its leaf's angle, so the layout counts those slots instead of building the chains:
// a single deep branch beside many leaves costs memory in the number of ideas, not in their
// product, and time in the ideas times the logarithm of the depth.

#include "graph/graph.h"

#include <cstdint>
#include <vector>

namespace orrery {

class TreeCircleLayout {
 public:
  static void layout(Graph& graph, float nodeSize, float radiusIncrement);
  TreeCircleLayout(Graph& graph, float nodeSize, float radiusIncrement);

  double levelRadiusAtLevel(std::int64_t depth) const { return mLevelRadiuses[static_cast<std::size_t>(depth)]; }
  // The smallest positive gap between neighbours in level order (no wrap-around), 2 pi at most.
  static double findSmallestNonZeroAngleDistance(const std::vector<GraphNode*>& nodes);
  // Steps after the radii are on the nodes: note numbers and fanned leaf groups, then positions
  // and the graph's bounds.
  static void fineTuneFinalGraph(Graph& graph, double nodeSize);
  static void calculatePositions(Graph& graph, double nodeSize, double radiusIncrement);

 private:
  void calculateAngles();
  void calculateLevelGaps();
  void calculateLevelRadiuses();
  void balanceLevelRadiuses();
  void applyLevelRadiusesToNodes();

  double ELEM_SIZE;
  double RADIUS_INC;
  Graph& mGraphToLayout;
  std::vector<double> mLevelRadiuses;
  // Smallest gap of each level of the balanced graph.
  std::vector<double> mLevelGaps;
};

}  // namespace orrery
