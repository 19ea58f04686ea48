#include "model/idea_snapshot.h"

#include <QHash>

#include <algorithm>

namespace orrery {

namespace {

void fillOwnContent(IdeaSnapshotNode& node, const Idea& idea) {
  node.identifier = idea.identifier();
  node.type = idea.ideaType();
  if (idea.isLink()) {
    node.targetIdentifier = idea.linkedIdentifier();
    node.contentType = IdeaTypeUndefined;
    return;
  }
  // Non-link getters answer the idea itself, so none of these searches the tree.
  node.contentType = idea.ideaType();
  node.text = idea.text();
  node.exportTitle = idea.exportTitle();
  node.note = idea.note();
  node.url = idea.URL();
  node.color = idea.color();
  node.icon = idea.iconImage();
  node.image = idea.image();
}

void takeTargetContent(IdeaSnapshotNode& link, const IdeaSnapshotNode& target) {
  link.contentType = target.contentType;
  link.text = target.text;
  link.exportTitle = target.exportTitle;
  link.note = target.note;
  link.url = target.url;
  link.color = target.color;
  link.icon = target.icon;
  link.image = target.image;
}

}  // namespace

IdeaSnapshotPtr IdeaSnapshot::create(const IdeaPtr& live) { return createFromCapture(capture(live)); }

IdeaSnapshot::Capture IdeaSnapshot::capture(const IdeaPtr& live) {
  Capture capture;
  if (!live) return capture;
  Idea::PreOrder preOrder;
  capture.frozen = live->snapshotCopy(&preOrder);
  capture.live = std::move(preOrder.ideas);
  // Link targets are looked up from the tree's top: at the top every target lies inside.
  if (live->root() == live) return capture;
  for (const std::int32_t index : preOrder.links) {
    const IdeaPtr link = capture.live[static_cast<std::size_t>(index)].lock();
    if (const IdeaPtr target = link ? link->linkedIdea() : nullptr) {
      IdeaSnapshotNode outside;
      fillOwnContent(outside, *target);
      capture.outsideTargets.insert(index, std::move(outside));
    }
  }
  return capture;
}

IdeaSnapshotPtr IdeaSnapshot::createFromCapture(Capture capture) {
  auto snapshot = std::make_shared<IdeaSnapshot>(Private{});
  if (capture.frozen) snapshot->build(capture.frozen, &capture);
  return snapshot;
}

IdeaSnapshotPtr IdeaSnapshot::createFromFrozen(const IdeaPtr& frozen) {
  auto snapshot = std::make_shared<IdeaSnapshot>(Private{});
  if (frozen) snapshot->build(frozen, nullptr);
  return snapshot;
}

void IdeaSnapshot::build(const IdeaPtr& frozen, Capture* capture) {
  // An explicit stack: a crafted file may nest far deeper than the call stack allows. The
  // capture's live list has the copy's shape, in the same pre-order.
  struct Step {
    const Idea* frozen;
    std::int32_t parent;
    std::int32_t depth;
  };
  std::vector<Step> stack{{frozen.get(), -1, 0}};
  if (capture) mNodes.reserve(capture->live.size());
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    const auto index = static_cast<std::int32_t>(mNodes.size());
    IdeaSnapshotNode& node = mNodes.emplace_back();
    fillOwnContent(node, *step.frozen);
    node.parent = step.parent;
    node.depth = step.depth;
    node.childCount = static_cast<std::int32_t>(step.frozen->ideas().size());
    const auto& children = step.frozen->ideas();
    for (std::size_t i = children.size(); i-- > 0;) stack.push_back({children[i].get(), index, step.depth + 1});
  }
  if (capture) {
    mLive = std::move(capture->live);
    mLive.resize(mNodes.size());
  }
  // Subtree ends, from the back: a node's subtree ends where its last child's does.
  for (std::int32_t i = size(); i-- > 0;) {
    IdeaSnapshotNode& node = mNodes[static_cast<std::size_t>(i)];
    if (node.subtreeEnd == 0) node.subtreeEnd = i + 1;
    if (node.parent >= 0) {
      IdeaSnapshotNode& parent = mNodes[static_cast<std::size_t>(node.parent)];
      parent.subtreeEnd = std::max(parent.subtreeEnd, node.subtreeEnd);
    }
  }
  // Links, as the tree resolves them: the first idea of the identifier, unless it is a link.
  // Only the identifiers links name are hashed.
  QHash<QString, std::int32_t> firstByIdentifier;
  for (const IdeaSnapshotNode& node : mNodes)
    if (node.isLink() && !node.targetIdentifier.isEmpty()) firstByIdentifier.insert(node.targetIdentifier, -1);
  if (firstByIdentifier.isEmpty()) return;
  for (std::int32_t i = 0; i < size(); ++i) {
    const auto named = firstByIdentifier.find(mNodes[static_cast<std::size_t>(i)].identifier);
    if (named != firstByIdentifier.end() && *named < 0) *named = i;
  }
  for (std::int32_t i = 0; i < size(); ++i) {
    IdeaSnapshotNode& node = mNodes[static_cast<std::size_t>(i)];
    if (!node.isLink() || node.targetIdentifier.isEmpty()) continue;
    const auto found = firstByIdentifier.constFind(node.targetIdentifier);
    if (*found >= 0) {
      if (!mNodes[static_cast<std::size_t>(*found)].isLink()) {
        node.targetIndex = *found;
        takeTargetContent(node, mNodes[static_cast<std::size_t>(*found)]);
      }
      continue;
    }
    if (!capture) continue;
    const auto outside = capture->outsideTargets.constFind(i);
    if (outside != capture->outsideTargets.constEnd()) takeTargetContent(node, *outside);
  }
}

IdeaPtr IdeaSnapshot::liveIdea(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= mLive.size()) return nullptr;
  return mLive[static_cast<std::size_t>(index)].lock();
}

std::int32_t IdeaSnapshot::indexOfIdentifier(const QString& identifier) const {
  for (std::int32_t i = 0; i < size(); ++i)
    if (mNodes[static_cast<std::size_t>(i)].identifier == identifier) return i;
  return -1;
}

}  // namespace orrery
