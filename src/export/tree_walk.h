#pragma once
// Depth-first pre-order walk of an idea tree with an explicit stack, so that no tree is too
// deep to export. `enter` sees each idea with its level before its children, `leave` after
// them; `beforeChild`/`afterChild` bracket each child's subtree (the parent's list markup).

#include "model/idea.h"

#include <functional>
#include <vector>

namespace orrery {

using IdeaVisit = std::function<void(const Idea& idea, qint64 level)>;
using ChildVisit = std::function<void(const Idea& child)>;

inline void walkTree(const Idea& root, qint64 level, const IdeaVisit& enter, const IdeaVisit& leave = {},
                     const ChildVisit& beforeChild = {}, const ChildVisit& afterChild = {}) {
  struct Frame {
    const Idea* idea;
    qint64 level;
    size_t next;
  };
  std::vector<Frame> stack;
  enter(root, level);
  stack.push_back({&root, level, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.idea->ideas().size()) {
      const Idea& child = *top.idea->ideas()[top.next++];
      const qint64 childLevel = top.level + 1;
      if (beforeChild) beforeChild(child);
      enter(child, childLevel);
      stack.push_back({&child, childLevel, 0});
      continue;
    }
    const Frame done = top;
    stack.pop_back();
    if (leave) leave(*done.idea, done.level);
    if (afterChild && !stack.empty()) afterChild(*done.idea);
  }
}

}  // namespace orrery
