// The tree operations: inserting, detaching and removing children, keeping links to live
// targets, and finding and walking ideas.

#include "model/idea.h"

#include "foundation/logging.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <vector>

namespace orrery {

void Idea::insertIdea(const IdeaPtr& idea, qint64 index) {
  if (!idea || isLink()) return;
  // An idea inside its own subtree would make every walk of the tree endless.
  bool ancestor = false;
  for (IdeaPtr up = self(); up && !ancestor; up = up->parent()) ancestor = up == idea;
  if (!ORRERY_SOFT_ASSERT(!ancestor, "-[Idea insertIdea:atIndex:]")) return;
  const qint64 at = std::clamp<qint64>(index, 0, qint64(mIdeas.size()));
  mIdeas.insert(mIdeas.begin() + at, idea);
  idea->mParent = self();
}

void Idea::addIdea(const IdeaPtr& idea) {
  if (isLink()) {
    softAssertionFailed(403, "-[Idea addIdea:]");
    return;
  }
  insertIdea(idea, qint64(mIdeas.size()));
}

void Idea::detachIdea(const QString& identifier) {
  const qint64 index = indexOfIdeaWithIdentifier(identifier);
  if (index == kNotFound) {
    softAssertionFailed(460, "-[Idea detachIdea:]");
    return;
  }
  IdeaPtr child = mIdeas[size_t(index)];
  mIdeas.erase(mIdeas.begin() + index);
  child->mParent.reset();
}

bool Idea::removeIdea(const QString& identifier) {
  const qint64 index = indexOfIdeaWithIdentifier(identifier);
  if (index == kNotFound) return false;
  IdeaPtr child = mIdeas[size_t(index)];
  mIdeas.erase(mIdeas.begin() + index);
  child->mParent.reset();
  root()->ensureLinkConsistencyInSubTree();
  return true;
}

void Idea::removeIdea(const IdeaPtr& idea, bool removeLinks) {
  if (!idea || isLink()) return;
  const auto it = std::find(mIdeas.begin(), mIdeas.end(), idea);
  if (it == mIdeas.end()) return;
  mIdeas.erase(it);
  idea->mParent.reset();
  if (removeLinks) root()->ensureLinkConsistencyInSubTree();
}

void Idea::ensureLinkConsistencyInSubTree() {
  // One index of the tree's non-link ideas serves every link: each identifier maps to its
  // first idea in pre-order, as the search from the root would find it.
  QHash<QString, IdeaPtr> targets;
  root()->traverseNaturally(
      [&](const IdeaPtr& idea, qint64) {
        if (!targets.contains(idea->mIdentifier)) targets.insert(idea->mIdentifier, idea);
      },
      0);
  std::function<void(Idea&)> check = [&](Idea& idea) {
    if (!idea.isLink()) {
      const std::vector<IdeaPtr> children = idea.mIdeas;
      for (const IdeaPtr& child : children) check(*child);
      return;
    }
    IdeaPtr target = targets.value(idea.ex().linkedIdentifier);
    if (target && target->isLink()) target.reset();
    idea.mLinkedIdea = target;
    if (target) return;
    if (IdeaPtr parent = idea.parent()) {
      auto& siblings = parent->mIdeas;
      siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                    [&](const IdeaPtr& s) { return s.get() == &idea; }),
                     siblings.end());
    }
    idea.mParent.reset();
  };
  IdeaPtr keep = self();
  check(*this);
}

qint64 Idea::indexOfIdeaWithIdentifier(const QString& identifier) const {
  for (size_t i = 0; i < mIdeas.size(); ++i)
    if (mIdeas[i]->mIdentifier == identifier) return qint64(i);
  return kNotFound;
}

IdeaPtr Idea::findIdeaInSubTreeWithIdentifier(const QString& identifier) const {
  if (mIdentifier == identifier) return self();
  if (isLink()) return nullptr;
  for (const IdeaPtr& child : mIdeas)
    if (IdeaPtr found = child->findIdeaInSubTreeWithIdentifier(identifier)) return found;
  return nullptr;
}

bool Idea::couldMyChildBeDescendantOfIdeaWithIdentifier(const QString& identifier) const {
  for (const Idea* idea = this; idea;) {
    if (idea->mIdentifier == identifier) return true;
    const IdeaPtr parent = idea->mParent.lock();
    idea = parent.get();
  }
  return false;
}

IdeaPtr Idea::root() const {
  IdeaPtr top = self();
  while (IdeaPtr parent = top->mParent.lock()) top = std::move(parent);
  return top;
}

qint64 Idea::calculateWholeTreeSize() const {
  qint64 size = 1;
  for (const IdeaPtr& child : mIdeas) size += child->calculateWholeTreeSize();
  return size;
}

void Idea::traverseNaturally(const Visitor& visitor, qint64 depth) const {
  visitor(self(), depth);
  const std::vector<IdeaPtr> children = mIdeas;
  for (const IdeaPtr& child : children) child->traverseNaturally(visitor, depth + 1);
}

}  // namespace orrery
