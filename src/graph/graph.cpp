#include "graph/graph.h"

namespace orrery {

namespace {

// Builds the nodes of a snapshot in one pass: node i's children follow it in pre-order, so a
// stack of open parents finds each node's parent.
std::unique_ptr<GraphNode> buildFromSnapshot(const IdeaSnapshot& snapshot) {
  if (snapshot.empty()) return std::make_unique<GraphNode>(nullptr);
  auto root = std::make_unique<GraphNode>(&snapshot.node(0), 0);
  std::vector<std::pair<GraphNode*, std::int32_t>> open{{root.get(), snapshot.node(0).subtreeEnd}};
  const std::int32_t end = snapshot.node(0).subtreeEnd;
  for (std::int32_t i = 1; i < end; ++i) {
    while (open.back().second <= i) open.pop_back();
    const IdeaSnapshotNode& idea = snapshot.node(i);
    GraphNode* node = open.back().first->addNode(std::make_unique<GraphNode>(&idea, i));
    if (idea.subtreeEnd > i + 1) open.emplace_back(node, idea.subtreeEnd);
  }
  return root;
}

}  // namespace

Graph::Graph(IdeaSnapshotPtr snapshot) : mSnapshot(std::move(snapshot)) {
  if (!mSnapshot) mSnapshot = IdeaSnapshot::createFromFrozen(nullptr);
  mRoot = buildFromSnapshot(*mSnapshot);
  constructLevels();
}

Graph::Graph(CopyTag, IdeaSnapshotPtr snapshot, std::unique_ptr<GraphNode> root)
    : mSnapshot(std::move(snapshot)), mRoot(std::move(root)) {
  constructLevels();
}

Graph::~Graph() {
  // Children are let go from the bottom up without recursion: a deep chain would otherwise
  // exhaust the stack in the nodes' destructors.
  std::vector<std::unique_ptr<GraphNode>> pending;
  pending.push_back(std::move(mRoot));
  while (!pending.empty()) {
    std::unique_ptr<GraphNode> node = std::move(pending.back());
    pending.pop_back();
    while (node->size() > 0) pending.push_back(node->removeLast());
  }
}

std::unique_ptr<Graph> Graph::createFromIdea(const IdeaPtr& idea) {
  return std::make_unique<Graph>(IdeaSnapshot::create(idea));
}

std::unique_ptr<Graph> Graph::createCopy() const {
  auto root = std::make_unique<GraphNode>(mRoot->idea(), mRoot->ideaIndex());
  std::vector<std::pair<const GraphNode*, GraphNode*>> stack{{mRoot.get(), root.get()}};
  while (!stack.empty()) {
    auto [source, copy] = stack.back();
    stack.pop_back();
    for (const auto& child : source->children())
      stack.emplace_back(child.get(), copy->addNode(std::make_unique<GraphNode>(child->idea(), child->ideaIndex())));
  }
  return std::unique_ptr<Graph>(new Graph(CopyTag{}, mSnapshot, std::move(root)));
}

GraphNode* Graph::findNodeByIdentifier(const QString& identifier) const {
  GraphNode* result = nullptr;
  mRoot->traverseNaturally(
      [&](GraphNode& node, std::int64_t /*depth*/) {
        if (node.idea() && node.idea()->identifier == identifier) result = &node;
      },
      /*depth=*/0);
  return result;
}

void Graph::constructLevels() {
  mNodesAtLevel.clear();
  mRoot->traverseNaturally(
      [&](GraphNode& node, std::int64_t depth) {
        while (static_cast<std::int64_t>(mNodesAtLevel.size()) <= depth) mNodesAtLevel.emplace_back();
        mNodesAtLevel[static_cast<std::size_t>(depth)].push_back(&node);
      },
      /*depth=*/0);
}

std::unique_ptr<Graph> GraphBalancingAlgorithm::createBalancedGraphFrom(const Graph& graph) {
  std::unique_ptr<Graph> copy = graph.createCopy();
  GraphBalancingAlgorithm balance(*copy);
  return copy;
}

GraphBalancingAlgorithm::GraphBalancingAlgorithm(Graph& graph) : mGraph(graph) {
  grow();
  mGraph.constructLevels();
}

void GraphBalancingAlgorithm::grow() {
  const std::int64_t levels = mGraph.levels();
  mGraph.traverseNaturally([&](GraphNode& node, std::int64_t depth) {
    if (node.size() > 0 || depth + 1 >= levels) return;
    GraphNode* end = &node;
    for (std::int64_t d = depth + 1; d < levels; ++d) end = end->addNode(std::make_unique<GraphNode>(nullptr));
  });
}

}  // namespace orrery
