#pragma once
// One node of the overview graph: an idea of a snapshot (none for a filler of a balanced copy)
// with its place in the layout. A node owns its children; the parent pointer is a plain back
// reference that the parent clears when it lets a child go. A graph is built, laid out and
// then only read, so finished nodes may be read from any thread.

#include "model/idea_snapshot.h"

#include <QPointF>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orrery {

class GraphNode {
 public:
  // `idea` is a node of a snapshot the graph keeps alive; null for a filler.
  explicit GraphNode(const IdeaSnapshotNode* idea, std::int32_t ideaIndex = -1);
  GraphNode(const GraphNode&) = delete;
  GraphNode& operator=(const GraphNode&) = delete;

  // Pre-order from this node at `depth`. A node's child list is read after the visitor
  // returned, so the visitor may add children to the node it is given and they are visited.
  using Visitor = std::function<void(GraphNode& node, std::int64_t depth)>;
  void traverseNaturally(const Visitor& visitor, std::int64_t depth);

  std::int64_t size() const { return static_cast<std::int64_t>(mChildren.size()); }
  GraphNode* getNode(std::int64_t index) const { return mChildren[static_cast<std::size_t>(index)].get(); }
  const std::vector<std::unique_ptr<GraphNode>>& children() const { return mChildren; }
  const IdeaSnapshotNode* idea() const { return mIdea; }
  // The idea's index in its snapshot, -1 for a filler.
  std::int32_t ideaIndex() const { return mIdeaIndex; }
  GraphNode* parent() const { return mParent; }
  GraphNode* firstNodeOrNil() const { return mChildren.empty() ? nullptr : mChildren.front().get(); }
  GraphNode* lastNodeOrNil() const { return mChildren.empty() ? nullptr : mChildren.back().get(); }

  GraphNode* addNode(std::unique_ptr<GraphNode> node);
  GraphNode* addNodeAtIndex(std::int64_t index, std::unique_ptr<GraphNode> node);
  std::unique_ptr<GraphNode> remove(GraphNode* node);
  std::unique_ptr<GraphNode> removeNodeAtIndex(std::int64_t index);
  std::unique_ptr<GraphNode> removeLast();

  float angle = 0;
  float radius = 0;
  std::int64_t noteNumber = 0;
  QPointF center;

 private:
  std::vector<std::unique_ptr<GraphNode>> mChildren;
  GraphNode* mParent = nullptr;  // the owner; cleared when it lets this node go
  const IdeaSnapshotNode* mIdea;
  std::int32_t mIdeaIndex;
};

}  // namespace orrery
