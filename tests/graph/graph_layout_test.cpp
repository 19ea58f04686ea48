#include "graph_test_support.h"

#include "graph/graph.h"
#include "graph/tree_circle_layout.h"
#include "model/idea_snapshot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace orrery;
using graphtest::idea;

namespace {

constexpr float kNodeSize = 140, kRingStep = 168;

std::unique_ptr<Graph> laidOut(const IdeaPtr& root) {
  auto graph = Graph::createFromIdea(root);
  TreeCircleLayout::layout(*graph, kNodeSize, kRingStep);
  return graph;
}

QStringList identifiersAt(const Graph& graph, std::int64_t depth) {
  QStringList ids;
  for (const GraphNode* node : graph.nodesAtLevel(depth)) ids << (node->idea() ? node->idea()->identifier : QStringLiteral("filler"));
  return ids;
}

// Every node's angle, radius and centre and the bounds as the balanced copy gives them.
void expectLayoutOfBalancedCopy(const IdeaPtr& root, const QString& label) {
  auto expected = Graph::createFromIdea(root);
  graphtest::referenceLayout(*expected, kNodeSize, kRingStep);
  auto actual = laidOut(root);
  std::vector<const GraphNode*> want, got;
  expected->traverseNaturally([&](GraphNode& node, std::int64_t) { want.push_back(&node); });
  actual->traverseNaturally([&](GraphNode& node, std::int64_t) { got.push_back(&node); });
  ASSERT_EQ(want.size(), got.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(want[i]->angle, got[i]->angle) << label.toStdString() << ", node " << i;
    ASSERT_EQ(want[i]->radius, got[i]->radius) << label.toStdString() << ", node " << i;
    ASSERT_EQ(want[i]->center, got[i]->center) << label.toStdString() << ", node " << i;
  }
  EXPECT_EQ(expected->bounds(), actual->bounds()) << label.toStdString();
}

}  // namespace

TEST(Graph, LevelsAndBalancedCopyFollowTheTree) {
  IdeaPtr lone = idea(QStringLiteral("lone"));
  Graph single(IdeaSnapshot::create(lone));
  EXPECT_EQ(single.levels(), 1);
  EXPECT_EQ(GraphBalancingAlgorithm::createBalancedGraphFrom(single)->levels(), 1);
  EXPECT_EQ(GraphBalancingAlgorithm::createBalancedGraphFrom(single)->root()->size(), 0);

  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr b = idea(QStringLiteral("b"));
  root->addIdea(idea(QStringLiteral("a")));
  root->addIdea(b);
  b->addIdea(idea(QStringLiteral("c")));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("b")));
  Graph graph(IdeaSnapshot::create(root));
  EXPECT_EQ(identifiersAt(graph, 1).size(), 3);
  EXPECT_EQ(identifiersAt(graph, 2), QStringList{QStringLiteral("c")}) << "a link is a leaf even when its target has children";
  auto balanced = GraphBalancingAlgorithm::createBalancedGraphFrom(graph);
  EXPECT_EQ(identifiersAt(*balanced, 2).size(), 3);
  EXPECT_EQ(identifiersAt(*balanced, 2).at(0), QStringLiteral("filler"));
  EXPECT_EQ(identifiersAt(*balanced, 2).at(1), QStringLiteral("c"));
  EXPECT_EQ(graph.levels(), 3) << "the caller's graph is not changed";
  EXPECT_EQ(graph.nodesAtLevel(2).size(), 1u);

  EXPECT_EQ(balanced->findNodeByIdentifier(QStringLiteral("unknown")), nullptr);
  EXPECT_EQ(balanced->findNodeByIdentifier(QStringLiteral("c"))->idea()->identifier, QStringLiteral("c"));
  EXPECT_EQ(balanced->findNodeByIdentifier(QString()), nullptr) << "fillers are never found";
}

TEST(TreeCircleLayout, LoneRootThreeLeavesAndChainToTheNumber) {
  auto lone = laidOut(idea(QStringLiteral("lone")));
  EXPECT_EQ(lone->root()->angle, 0);
  EXPECT_EQ(lone->root()->radius, 0);
  EXPECT_EQ(lone->root()->center, QPointF(0, 0));
  EXPECT_EQ(lone->bounds(), QRectF(-448, -448, 896, 896));

  IdeaPtr root = idea(QStringLiteral("root"));
  for (const char* id : {"x", "y", "z"}) root->addIdea(idea(QString::fromLatin1(id)));
  auto three = laidOut(root);
  const auto& kids = three->root()->children();
  EXPECT_FLOAT_EQ(kids[1]->angle, static_cast<float>(2 * M_PI / 3));
  EXPECT_FLOAT_EQ(three->root()->angle, static_cast<float>(2 * M_PI / 3));
  EXPECT_EQ(kids[0]->radius, 168);
  EXPECT_EQ(kids[0]->center, QPointF(168, 0));
  EXPECT_EQ(kids[1]->center, QPointF(-85, 146)) << "-84.0000085 rounds away from zero";
  EXPECT_EQ(kids[2]->center, QPointF(-84, -146));

  IdeaPtr chain = idea(QStringLiteral("r"));
  IdeaPtr a = idea(QStringLiteral("a"));
  chain->addIdea(a);
  a->addIdea(idea(QStringLiteral("b")));
  auto laid = laidOut(chain);
  GraphNode* nodeA = laid->root()->getNode(0);
  EXPECT_EQ(nodeA->radius, 168);
  EXPECT_EQ(nodeA->getNode(0)->radius, 336);
  EXPECT_EQ(nodeA->getNode(0)->angle, nodeA->angle);
}

TEST(TreeCircleLayout, NotesNumberedInPreOrderAndLeafGroupsFanned) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr first = idea(QStringLiteral("first"));
  IdeaPtr second = idea(QStringLiteral("second"));
  root->addIdea(first);
  root->addIdea(second);
  IdeaPtr deep = idea(QStringLiteral("deep"));
  first->addIdea(deep);
  first->addIdea(idea(QStringLiteral("deep2")));
  second->setNote(QStringLiteral("two"));
  deep->setNote(QStringLiteral("one"));
  root->addIdea(Idea::createWithLinkToIdea(QStringLiteral("second")));
  auto graph = laidOut(root);
  EXPECT_EQ(graph->root()->noteNumber, 0);
  EXPECT_EQ(graph->root()->getNode(0)->getNode(0)->noteNumber, 1);
  EXPECT_EQ(graph->root()->getNode(1)->noteNumber, 2);
  EXPECT_EQ(graph->root()->getNode(2)->noteNumber, 3) << "a link with a noted target counts";
  // The two leaves under "first" sit one node size of arc apart around its direction.
  const GraphNode* parent = graph->root()->getNode(0);
  const double step = kNodeSize / parent->getNode(0)->radius;
  EXPECT_FLOAT_EQ(parent->getNode(0)->angle, static_cast<float>(parent->angle - 0.5 * step));
  EXPECT_FLOAT_EQ(parent->getNode(1)->angle, static_cast<float>(parent->angle + 0.5 * step));
}

TEST(TreeCircleLayout, MatchesTheBalancedCopyOnRandomTrees) {
  for (auto [count, seed] : {std::pair{2, 1u}, {7, 2u}, {60, 3u}, {400, 4u}, {1500, 5u}, {5000, 6u}})
    expectLayoutOfBalancedCopy(graphtest::randomTree(count, seed), QStringLiteral("%1 ideas").arg(count));
}

TEST(TreeCircleLayout, MatchesTheBalancedCopyOnCombsOfChainsAndLeaves) {
  // Chains of many lengths with leaves hung at random heights: leaves above the deepest level
  // neighbour nodes of every depth.
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 random(seed);
    IdeaPtr root = idea(QStringLiteral("root"));
    int n = 0;
    for (int branch = 0; branch < 25; ++branch) {
      IdeaPtr end = root;
      const int length = static_cast<int>(random() % 30);
      for (int d = 0; d < length; ++d) {
        IdeaPtr next = idea(QStringLiteral("c%1").arg(n++));
        end->addIdea(next);
        if (random() % 3 == 0) end->addIdea(idea(QStringLiteral("l%1").arg(n++)));
        end = next;
      }
    }
    expectLayoutOfBalancedCopy(root, QStringLiteral("comb %1").arg(seed));
  }
}

TEST(TreeCircleLayout, DeepBranchBesideManyLeavesKeepsItsAnglesWithoutFillers) {
  IdeaPtr root = graphtest::deepChainBesideLeaves(/*depth=*/120, /*leaves=*/1500);
  auto expected = Graph::createFromIdea(root);
  graphtest::referenceLayout(*expected, kNodeSize, kRingStep);
  auto actual = laidOut(root);
  std::int64_t nodes = 0;
  actual->traverseNaturally([&](GraphNode&, std::int64_t) { ++nodes; });
  EXPECT_EQ(nodes, 1 + 120 + 1500) << "the layout adds no node to the graph";
  EXPECT_EQ(expected->bounds(), actual->bounds());
  const GraphNode* a = expected->root()->getNode(0);
  const GraphNode* b = actual->root()->getNode(0);
  while (a && b) {
    ASSERT_EQ(a->angle, b->angle);
    ASSERT_EQ(a->center, b->center);
    a = a->firstNodeOrNil();
    b = b->firstNodeOrNil();
  }
  EXPECT_TRUE(std::isfinite(actual->bounds().width()));
}

TEST(TreeCircleLayout, DuplicateIdentifiersEachKeepTheirOwnPlace) {
  IdeaPtr root = idea(QStringLiteral("root"));
  root->addIdea(idea(QStringLiteral("same")));
  root->addIdea(idea(QStringLiteral("other")));
  root->addIdea(idea(QStringLiteral("same")));
  auto graph = laidOut(root);
  const auto& kids = graph->root()->children();
  EXPECT_NE(kids[0]->center, kids[2]->center) << "two ideas of one identifier are two planets";
  EXPECT_EQ(kids[0]->center, QPointF(168, 0));
}
