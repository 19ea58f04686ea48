#include "graph/graph_node.h"

namespace orrery {

GraphNode::GraphNode(const IdeaSnapshotNode* idea, std::int32_t ideaIndex) : mIdea(idea), mIdeaIndex(ideaIndex) {
  if (idea) mChildren.reserve(static_cast<std::size_t>(idea->childCount));
}

void GraphNode::traverseNaturally(const Visitor& visitor, std::int64_t depth) {
  // An explicit stack: a crafted map may nest deeper than the call stack allows.
  std::vector<std::pair<GraphNode*, std::int64_t>> stack{{this, depth}};
  while (!stack.empty()) {
    auto [node, level] = stack.back();
    stack.pop_back();
    visitor(*node, level);
    for (std::size_t i = node->mChildren.size(); i-- > 0;) stack.emplace_back(node->mChildren[i].get(), level + 1);
  }
}

GraphNode* GraphNode::addNode(std::unique_ptr<GraphNode> node) {
  node->mParent = this;
  mChildren.push_back(std::move(node));
  return mChildren.back().get();
}

GraphNode* GraphNode::addNodeAtIndex(std::int64_t index, std::unique_ptr<GraphNode> node) {
  node->mParent = this;
  const auto at = mChildren.insert(mChildren.begin() + index, std::move(node));
  return at->get();
}

std::unique_ptr<GraphNode> GraphNode::remove(GraphNode* node) {
  for (std::size_t i = 0; i < mChildren.size(); ++i)
    if (mChildren[i].get() == node) return removeNodeAtIndex(static_cast<std::int64_t>(i));
  return nullptr;
}

std::unique_ptr<GraphNode> GraphNode::removeNodeAtIndex(std::int64_t index) {
  std::unique_ptr<GraphNode> node = std::move(mChildren[static_cast<std::size_t>(index)]);
  mChildren.erase(mChildren.begin() + index);
  node->mParent = nullptr;
  return node;
}

std::unique_ptr<GraphNode> GraphNode::removeLast() {
  if (mChildren.empty()) return nullptr;
  return removeNodeAtIndex(size() - 1);
}

}  // namespace orrery
