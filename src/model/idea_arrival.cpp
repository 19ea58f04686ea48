#include "model/idea_arrival.h"

#include "model/idea.h"

#include <utility>

namespace orrery {

namespace {

// What a list of `children` ideas takes in its parent beyond their own texts: the member
// ,"ideas":[] around them and the commas between them; nothing when empty, as it is not written.
qint64 childListBytes(std::size_t children) {
  constexpr qint64 kMember = sizeof(",\"ideas\":[]") - 1;
  return children == 0 ? 0 : kMember + qint64(children) - 1;
}

// What one more child of `parent` takes in its list.
qint64 joiningBytes(const Idea& parent) {
  const std::size_t children = parent.ideas().size();
  return childListBytes(children + 1) - childListBytes(children);
}

}  // namespace

IdeaArrival IdeaArrival::of(std::shared_ptr<Idea> idea, const Idea& parent) {
  IdeaArrival arrival{std::move(idea), {}, {}};
  arrival.added = DocumentSize::of(*arrival.idea, DocumentSize::levelOf(parent) + 1);
  arrival.added.jsonBytes += joiningBytes(parent);
  return arrival;
}

IdeaArrival IdeaArrival::copyOf(const Idea& idea, const Idea& parent, bool keepingLinks) {
  return of(idea.deepCopyWithNewIdentifiersPreservingExternalLinks(keepingLinks), parent);
}

IdeaArrival IdeaArrival::moveOf(std::shared_ptr<Idea> idea, const Idea& parent) {
  IdeaArrival arrival{std::move(idea), {}, {}};
  arrival.added = DocumentSize::levelsOf(*arrival.idea, DocumentSize::levelOf(parent) + 1);
  const std::shared_ptr<Idea> from = arrival.idea->parent();
  // Along its own list nothing changes but the order.
  if (from.get() == &parent) return arrival;
  arrival.added.jsonBytes = joiningBytes(parent);
  if (from) arrival.removed.jsonBytes = childListBytes(from->ideas().size()) - childListBytes(from->ideas().size() - 1);
  return arrival;
}

}  // namespace orrery
