#pragma once
// What comes into a map asks the room the writer takes for it there, measured on the very ideas
// that go in: a copy is made before it is measured (its new identifiers may be longer than its
// source's, and a link leading out of the copied part carries its target's content), and the
// list of children it joins, opens or leaves is counted. Main thread only.

#include "model/document_limits.h"

#include <memory>

namespace orrery {

class Idea;

struct IdeaArrival {
  // What goes in: the idea itself, or the copy made for it.
  std::shared_ptr<Idea> idea;
  // The room it asks, and what a move frees where it leaves.
  DocumentSize added;
  DocumentSize removed;

  // `idea` itself, new to the map, as a child of `parent`.
  static IdeaArrival of(std::shared_ptr<Idea> idea, const Idea& parent);
  // A copy of `idea` as a child of `parent`. With `keepingLinks` (the copy stays in its source's
  // tree) its links keep their targets; without, a link leading out of it becomes its target's
  // content.
  static IdeaArrival copyOf(const Idea& idea, const Idea& parent, bool keepingLinks);
  // `idea`, of the tree of `parent`, moved to be a child of `parent`: the levels it reaches there
  // and the list it opens, less the list it leaves.
  static IdeaArrival moveOf(std::shared_ptr<Idea> idea, const Idea& parent);
};

}  // namespace orrery
