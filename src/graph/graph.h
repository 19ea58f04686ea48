#pragma once
// The overview graph's model: a tree of `GraphNode`s mirroring an idea snapshot, indexed by
// depth. Built once (main thread for a live idea, any thread for a snapshot), laid out once,
// then only read; a changed tree is shown by building a new graph.

#include "graph/graph_node.h"
#include "model/idea_snapshot.h"

#include <QRectF>

#include <memory>
#include <vector>

namespace orrery {

class Graph {
 public:
  // The graph of the snapshot's whole tree (its node 0). An empty snapshot gives a lone
  // filler root.
  explicit Graph(IdeaSnapshotPtr snapshot);
  // Main thread: snapshots the idea's subtree now.
  static std::unique_ptr<Graph> createFromIdea(const IdeaPtr& idea);
  ~Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // A structural copy: new nodes for the same ideas, same shape; layout fields not copied.
  std::unique_ptr<Graph> createCopy() const;

  GraphNode* root() const { return mRoot.get(); }
  const IdeaSnapshotPtr& snapshot() const { return mSnapshot; }
  std::int64_t levels() const { return static_cast<std::int64_t>(mNodesAtLevel.size()); }
  const std::vector<GraphNode*>& nodesAtLevel(std::int64_t depth) const {
    return mNodesAtLevel[static_cast<std::size_t>(depth)];
  }
  const QRectF& bounds() const { return mBounds; }
  void setBounds(const QRectF& bounds) { mBounds = bounds; }

  void traverseNaturally(const GraphNode::Visitor& visitor) { mRoot->traverseNaturally(visitor, /*depth=*/0); }
  // The last node in pre-order whose idea has the identifier; fillers are skipped. A linear walk.
  GraphNode* findNodeByIdentifier(const QString& identifier) const;
  void constructLevels();
  void reconstructLevels() { constructLevels(); }
  QString debugDescription() const { return QStringLiteral("(omitted)"); }

 private:
  struct CopyTag {};
  Graph(CopyTag, IdeaSnapshotPtr snapshot, std::unique_ptr<GraphNode> root);

  IdeaSnapshotPtr mSnapshot;
  std::unique_ptr<GraphNode> mRoot;
  std::vector<std::vector<GraphNode*>> mNodesAtLevel;
  QRectF mBounds;
};

// Makes the padded copy the layout measures: every leaf above the deepest level gets a chain
// of filler nodes down to it.
class GraphBalancingAlgorithm {
 public:
  static std::unique_ptr<Graph> createBalancedGraphFrom(const Graph& graph);
  // Balances the graph in place and rebuilds its levels.
  explicit GraphBalancingAlgorithm(Graph& graph);

 private:
  void grow();

  Graph& mGraph;
};

}  // namespace orrery
