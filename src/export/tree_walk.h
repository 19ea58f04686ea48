#pragma once
// Depth-first pre-order walk of an idea tree with an explicit stack, so that no tree is too
// deep to export. `enter` sees each idea with its level before its children, `leave` after
// them; `beforeChild`/`afterChild` bracket each child's subtree (the parent's list markup).
// Templates, so the visitors inline on trees of 100 000 ideas.

#include "model/idea.h"

#include <vector>

namespace orrery {

struct NoIdeaVisit {
  void operator()(const Idea& /*idea*/, qint64 /*level*/) const {}
};
struct NoChildVisit {
  void operator()(const Idea& /*child*/) const {}
};

template <typename Enter, typename Leave = NoIdeaVisit, typename BeforeChild = NoChildVisit,
          typename AfterChild = NoChildVisit>
void walkTree(const Idea& root, qint64 level, Enter&& enter, Leave&& leave = {}, BeforeChild&& beforeChild = {},
              AfterChild&& afterChild = {}) {
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
      beforeChild(child);
      enter(child, childLevel);
      stack.push_back({&child, childLevel, 0});
      continue;
    }
    const Frame done = top;
    stack.pop_back();
    leave(*done.idea, done.level);
    if (!stack.empty()) afterChild(*done.idea);
  }
}

}  // namespace orrery
