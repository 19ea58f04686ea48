// Copies of a subtree: with new identifiers (whole or some levels) and the snapshot that
// shares content.

#include "model/idea.h"
#include "model/concurrent_parts.h"
#include "model/idea_identifier_maker.h"
#include "model/idea_link_targets.h"

#include <QHash>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

namespace orrery {

IdeaPtr Idea::ideaByRestrictingDepth(qint64 depth) const {
  // Only the kept levels are copied; a link to an idea below them holds its target's content.
  return copyWithNewIdentifiers(/*preserveExternalLinks=*/false, std::max<qint64>(depth, 1));
}

IdeaPtr Idea::ideaByRestrictingElements(qint64 count) const {
  std::vector<qint64> perLevel;
  traverseNaturally(
      [&](const IdeaPtr&, qint64 level) {
        if (perLevel.size() <= size_t(level)) perLevel.resize(size_t(level) + 1, 0);
        ++perLevel[size_t(level)];
      },
      0);
  qint64 total = 0;
  qint64 levels = 0;
  for (qint64 c : perLevel) {
    total += c;
    if (total < count) ++levels;
  }
  return ideaByRestrictingDepth(levels);
}

void Idea::takeContentOf(const Idea* source) {
  if (!source) {
    mIdeaType = IdeaTypeUndefined;
    mText = QString();
    mColor = nullptr;
    // The stored target identifier stays; nothing else of the extras does.
    const QString linked = ex().linkedIdentifier;
    mExtras.reset();
    if (!linked.isNull()) mut().linkedIdentifier = linked;
    colorThemeTypeValue = ColorThemeTypeSameColor;
    return;
  }
  // Note, URL, icon and pictures; shared until either side changes one (then it gets its own).
  const QString linked = ex().linkedIdentifier;
  shareContentOf(*source);
  if (ex().linkedIdentifier != linked) mut().linkedIdentifier = linked;
}

void Idea::shareContentOf(const Idea& source) {
  mIdeaType = source.mIdeaType;
  mText = source.mText;
  mColor = source.mColor;
  colorThemeTypeValue = source.colorThemeTypeValue;
  mExtras = source.mExtras;
}

namespace {

// The lines a copy reads of an idea: the object, then its child list and the headers of the
// texts and extras it shares (their counts are written). Asked for some steps before the walk
// gets there: a tree built by editing lies all over the heap, and a walk that waits for one
// idea at a time spends most of its time waiting.
void prefetchObject(const void* object, size_t size) {
  const char* at = static_cast<const char*>(object);
  for (size_t offset = 0; offset < size; offset += 64) __builtin_prefetch(at + offset);
}

void prefetchHeader(const QString& text) {
  // (data_ptr only hands the header out; nothing is changed through it.)
  if (const void* header = const_cast<QString&>(text).data_ptr().d_ptr()) __builtin_prefetch(header, 1);
}

}  // namespace

void Idea::prefetchContent() const {
  if (!mIdeas.empty()) __builtin_prefetch(mIdeas.data());
  prefetchHeader(mIdentifier);
  prefetchHeader(mText);
  // The count sits just before an object made by make_shared.
  if (mExtras) __builtin_prefetch(reinterpret_cast<const char*>(mExtras.get()) - 8, 1);
}

namespace {

// A whole tree goes on in parts on several threads once the calling thread has copied
// kCopyInPartsAfter ideas and at least this many subtrees wait: the copy spends its time
// waiting on memory, and the waits of several threads overlap.
constexpr size_t kLeastPieces = 64;
// The parts the waiting subtrees are dealt into, taken one after another by whichever thread is
// free: many more than threads, as one subtree may be much bigger than the others.
constexpr size_t kMostParts = 48;
constexpr size_t kMostHelpers = 3;

struct CopyStep {
  const Idea* source;
  Idea* parentCopy;
};

// Where the pre-order list of one subtree copied in a part lies in its part's list.
struct PieceSpan {
  size_t part = 0;
  size_t ideasBegin = 0, ideasEnd = 0;
  size_t linksBegin = 0, linksEnd = 0;
};

void appendPreOrder(const IdeaPtr& top, Idea::PreOrder& out) {
  std::vector<const IdeaPtr*> stack{&top};
  while (!stack.empty()) {
    const IdeaPtr& idea = *stack.back();
    stack.pop_back();
    if (idea->isLink()) out.links.push_back(static_cast<std::int32_t>(out.ideas.size()));
    out.ideas.emplace_back(idea);
    const auto& children = idea->ideas();
    for (size_t i = children.size(); i-- > 0;) stack.push_back(&children[i]);
  }
}

}  // namespace

template <typename Copier>
IdeaPtr Idea::copyTree(qint64 depth, std::vector<Copier>& copiers, PreOrder* live) const {
  // Level by level through one queue of (source, its parent's copy), each idea copied when its
  // turn comes: the ideas the walk reaches next are known some steps ahead and fetched while
  // earlier ones are copied. No recursion, so no tree is too deep; the copies are attached
  // directly, as a fresh copy can be nobody's ancestor and the checks of insertIdea are not
  // needed. Children keep their order, as a parent's children are queued one after another.
  constexpr size_t kObjectsAhead = 16;
  constexpr size_t kContentAhead = 8;
  const bool whole = depth == std::numeric_limits<qint64>::max();
  const Copier blank = copiers.front();
  // Copies the queue's steps from `at` on; a step without parent copy adds its copy to `tops`.
  // Stops before step `stopFrom` or later once kLeastPieces steps wait. With `firstChild`, notes
  // the queue position of every copied step's first child.
  auto copySteps = [&](std::vector<CopyStep>& queue, Copier& copyOf, std::vector<IdeaPtr>& tops, size_t stopFrom,
                       std::vector<size_t>* firstChild) {
    size_t levelEnd = queue.size();  // the end of the current level's steps
    qint64 level = 0;
    size_t at = 0;
    for (; at < queue.size(); ++at) {
      if (at >= stopFrom && queue.size() - at >= kLeastPieces) break;
      if (at == levelEnd) {
        ++level;
        levelEnd = queue.size();
      }
      if (at + kObjectsAhead < queue.size()) {
        const CopyStep& soon = queue[at + kObjectsAhead];
        prefetchObject(soon.source, sizeof(Idea));
        // The parent's copy was made a level earlier: its counts and child list get written.
        if (soon.parentCopy) {
          __builtin_prefetch(reinterpret_cast<const char*>(soon.parentCopy) - 8, 1);
          __builtin_prefetch(&soon.parentCopy->mIdeas, 1);
        }
      }
      if (at + kContentAhead < queue.size()) queue[at + kContentAhead].source->prefetchContent();
      const auto [source, parentCopy] = queue[at];
      IdeaPtr made = copyOf(*source);
      Idea* copy = made.get();
      if (parentCopy) {
        made->mParent = parentCopy->weak_from_this();
        parentCopy->mIdeas.push_back(std::move(made));
      } else {
        tops.push_back(std::move(made));
      }
      if (firstChild) firstChild->push_back(queue.size());
      const auto& children = source->mIdeas;
      if (children.empty() || level + 1 >= depth) continue;
      copy->mIdeas.reserve(children.size());
      for (const IdeaPtr& child : children) queue.push_back({child.get(), copy});
    }
    return at;
  };

  std::vector<CopyStep> queue;
  queue.reserve(mIdeas.size() + 1);
  queue.push_back({this, nullptr});
  std::vector<IdeaPtr> tops;
  std::vector<size_t> firstChild;
  const size_t noStop = std::numeric_limits<size_t>::max();
  const size_t copied = copySteps(queue, copiers.front(), tops, whole ? kCopyInPartsAfter : noStop,
                                  live ? &firstChild : nullptr);

  // The waiting steps are subtrees of their own. Each part copies a run of them level by level
  // as one forest; the live tree is only read, and the main thread waits here, so nothing
  // changes it meanwhile.
  const size_t pieces = queue.size() - copied;
  const size_t partCount = std::min(pieces, kMostParts);
  std::vector<std::vector<IdeaPtr>> partTops(partCount);
  std::vector<PreOrder> partLive(live ? partCount : 0);
  std::vector<PieceSpan> spans(live ? pieces : 0);
  if (partCount > 0) {
    copiers.resize(1 + partCount, blank);
    runInParts(partCount, kMostHelpers, [&](size_t part) {
      const size_t begin = copied + part * pieces / partCount, end = copied + (part + 1) * pieces / partCount;
      std::vector<CopyStep> own;
      own.reserve(end - begin);
      for (size_t i = begin; i < end; ++i) own.push_back({queue[i].source, nullptr});
      copySteps(own, copiers[1 + part], partTops[part], noStop, nullptr);
      if (!live) return;
      PreOrder& list = partLive[part];
      for (size_t i = begin; i < end; ++i) {
        PieceSpan& span = spans[i - copied];
        span = {part, list.ideas.size(), 0, list.links.size(), 0};
        appendPreOrder(std::const_pointer_cast<Idea>(queue[i].source->shared_from_this()), list);
        span.ideasEnd = list.ideas.size();
        span.linksEnd = list.links.size();
      }
    });
    size_t at = copied;
    for (std::vector<IdeaPtr>& part : partTops) {
      for (IdeaPtr& top : part) {
        Idea* parentCopy = queue[at++].parentCopy;
        top->mParent = parentCopy->weak_from_this();
        parentCopy->mIdeas.push_back(std::move(top));
      }
    }
  }

  if (live) {
    // Pre-order over the queue positions: a step copied here lists itself and then its
    // children, a waiting one the list its part made of its subtree.
    live->ideas.reserve(live->ideas.size() + queue.size());
    const IdeaPtr self = this->self();
    struct Visit {
      size_t step;
      const IdeaPtr* idea;
    };
    std::vector<Visit> stack{{0, &self}};
    while (!stack.empty()) {
      const Visit visit = stack.back();
      stack.pop_back();
      if (visit.step >= copied) {
        const PieceSpan& span = spans[visit.step - copied];
        PreOrder& list = partLive[span.part];
        const auto offset = static_cast<std::int32_t>(live->ideas.size() - span.ideasBegin);
        for (size_t i = span.linksBegin; i < span.linksEnd; ++i) live->links.push_back(list.links[i] + offset);
        std::move(list.ideas.begin() + std::ptrdiff_t(span.ideasBegin), list.ideas.begin() + std::ptrdiff_t(span.ideasEnd),
                  std::back_inserter(live->ideas));
        continue;
      }
      const IdeaPtr& idea = *visit.idea;
      if (idea->isLink()) live->links.push_back(static_cast<std::int32_t>(live->ideas.size()));
      live->ideas.emplace_back(idea);
      const auto& children = idea->mIdeas;
      for (size_t i = children.size(); i-- > 0;) stack.push_back({firstChild[visit.step] + i, &children[i]});
    }
  }
  return tops.front();
}

IdeaPtr Idea::copyWithNewIdentifiers(bool preserveExternalLinks, qint64 depth) const {
  const IdentifierMaker identifiers;
  // Every copy and link copy with the identifiers and hashes the links are matched by, taken
  // while the source is at hand: matching them afterwards reads no source idea again.
  struct Copied {
    size_t hash;
    QStringView sourceIdentifier;
    Idea* copy;
  };
  struct Link {
    Copied target;  // the identifier the source link names
    const Idea* source;
    Idea* copy;
  };
  // One for each part of the tree copied on its own thread.
  struct Copier {
    const IdentifierMaker* identifiers;
    IdentifierMaker::Block numbers;
    std::vector<Copied> copies;
    std::vector<Link> links;

    IdeaPtr operator()(const Idea& source) {
      IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), identifiers->next(numbers));
      if (source.isLink()) {
        const QString& target = source.ex().linkedIdentifier;
        copy->mIdeaType = IdeaTypeLink;
        copy->mut().linkedIdentifier = target;
        links.push_back({{qHash(QStringView(target)), target, nullptr}, &source, copy.get()});
      } else if (source.mExtras && !source.mExtras->linkedIdentifier.isNull()) {
        copy->takeContentOf(&source);  // drops the unused target identifier a former link kept
      } else {
        copy->shareContentOf(source);
      }
      copies.push_back({qHash(QStringView(source.mIdentifier)), source.mIdentifier, copy.get()});
      return copy;
    }
  };
  std::vector<Copier> copiers{{&identifiers, {}, {}, {}}};
  const IdeaPtr top = copyTree(depth, copiers, nullptr);
  size_t linkCount = 0;
  for (const Copier& part : copiers) linkCount += part.links.size();
  if (linkCount == 0) return top;
  IdeaLinkTargets targets(linkCount);
  std::vector<std::pair<const Link*, IdeaLinkTargets::Target*>> targetOfLink;
  targetOfLink.reserve(linkCount);
  for (const Copier& part : copiers)
    for (const Link& link : part.links)
      targetOfLink.emplace_back(&link, &targets.add(link.target.hash, link.target.sourceIdentifier));
  std::vector<std::pair<Idea*, IdeaLinkTargets::Target*>> matches;
  bool repeated = false;
  for (const Copier& part : copiers) {
    for (const Copied& copied : part.copies) {
      IdeaLinkTargets::Target* target = targets.find(copied.hash, copied.sourceIdentifier);
      if (!target) continue;
      repeated = repeated || target->first;
      if (!target->first) target->first = copied.copy;
      matches.emplace_back(copied.copy, target);
    }
  }
  if (repeated) {
    // A named identifier more than one idea carries: the copies were made level by level (and
    // in parts), but a link leads to the first in pre-order, as resolving it from the root
    // does. One walk of the copy in pre-order settles every such identifier.
    const QHash<Idea*, IdeaLinkTargets::Target*> matched(matches.begin(), matches.end());
    targets.forgetCopies();
    std::vector<Idea*> stack{top.get()};
    while (!stack.empty()) {
      Idea* idea = stack.back();
      stack.pop_back();
      if (IdeaLinkTargets::Target* target = matched.value(idea); target && !target->first) target->first = idea;
      for (auto child = idea->mIdeas.rbegin(); child != idea->mIdeas.rend(); ++child) stack.push_back(child->get());
    }
  }
  for (const auto& [link, target] : targetOfLink) {
    Idea* linkCopy = link->copy;
    if (const Idea* inside = target->first) {
      linkCopy->mut().linkedIdentifier = inside->mIdentifier;
      linkCopy->mLinkedIdea.reset();
    } else if (!preserveExternalLinks) {
      // The stored target identifier stays but is no longer used. (Resolving fills the
      // source's cache, so it is done here, on the calling thread, never in a part.)
      const IdeaPtr outside = link->source->linkedIdea();
      linkCopy->takeContentOf(outside.get());
    }
  }
  return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const {
  return copyWithNewIdentifiers(preserveExternalLinks, std::numeric_limits<qint64>::max());
}

IdeaPtr Idea::snapshotCopy(PreOrder* live) const {
  struct Copier {
    IdeaPtr operator()(const Idea& source) const {
      IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), source.mIdentifier);
      copy->shareContentOf(source);
      return copy;
    }
  };
  std::vector<Copier> copiers(1);
  return copyTree(std::numeric_limits<qint64>::max(), copiers, live);
}

}  // namespace orrery
