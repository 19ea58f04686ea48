// Copies of a subtree: with new identifiers (whole or some levels) and the snapshot that
// shares content.

#include "model/idea.h"
#include "model/idea_identifier_maker.h"
#include "model/idea_link_targets.h"

#include <QHash>

#include <algorithm>
#include <cstdint>
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

template <typename CopyOf>
IdeaPtr Idea::copyTree(qint64 depth, CopyOf&& copyOf) const {
  // Level by level through one queue of (source, its parent's copy), each idea copied when its
  // turn comes: the ideas the walk reaches next are known some steps ahead and fetched while
  // earlier ones are copied. No recursion, so no tree is too deep; the copies are attached
  // directly, as a fresh copy can be nobody's ancestor and the checks of insertIdea are not
  // needed. Children keep their order, as a parent's children are queued one after another.
  constexpr size_t kObjectsAhead = 16;
  constexpr size_t kContentAhead = 8;
  struct Step {
    const Idea* source;
    Idea* parentCopy;
  };
  std::vector<Step> queue;
  queue.reserve(mIdeas.size() + 1);
  queue.push_back({this, nullptr});
  IdeaPtr top;
  size_t levelEnd = 1;  // the end of the current level's steps
  qint64 level = 0;
  for (size_t at = 0; at < queue.size(); ++at) {
    if (at == levelEnd) {
      ++level;
      levelEnd = queue.size();
    }
    if (at + kObjectsAhead < queue.size()) {
      const Step& soon = queue[at + kObjectsAhead];
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
      top = std::move(made);
    }
    const auto& children = source->mIdeas;
    if (children.empty() || level + 1 >= depth) continue;
    copy->mIdeas.reserve(children.size());
    for (const IdeaPtr& child : children) queue.push_back({child.get(), copy});
  }
  return top;
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
  std::vector<Copied> copies;
  std::vector<Link> links;
  auto copyOf = [&](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), identifiers.next());
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
  };

  const IdeaPtr top = copyTree(depth, copyOf);
  if (links.empty()) return top;
  IdeaLinkTargets targets(links.size());
  std::vector<IdeaLinkTargets::Target*> targetOfLink;
  targetOfLink.reserve(links.size());
  for (const Link& link : links) targetOfLink.push_back(&targets.add(link.target.hash, link.target.sourceIdentifier));
  std::vector<std::pair<Idea*, IdeaLinkTargets::Target*>> matches;
  bool repeated = false;
  for (const Copied& copied : copies) {
    IdeaLinkTargets::Target* target = targets.find(copied.hash, copied.sourceIdentifier);
    if (!target) continue;
    repeated = repeated || target->first;
    if (!target->first) target->first = copied.copy;
    matches.emplace_back(copied.copy, target);
  }
  if (repeated) {
    // A named identifier more than one idea carries: the copies were made level by level, but
    // a link leads to the first in pre-order, as resolving it from the root does. One walk of
    // the copy in pre-order settles every such identifier.
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
  for (size_t i = 0; i < links.size(); ++i) {
    Idea* linkCopy = links[i].copy;
    if (const Idea* inside = targetOfLink[i]->first) {
      linkCopy->mut().linkedIdentifier = inside->mIdentifier;
      linkCopy->mLinkedIdea.reset();
    } else if (!preserveExternalLinks) {
      // The stored target identifier stays but is no longer used.
      const IdeaPtr target = links[i].source->linkedIdea();
      linkCopy->takeContentOf(target.get());
    }
  }
  return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const {
  return copyWithNewIdentifiers(preserveExternalLinks, std::numeric_limits<qint64>::max());
}

IdeaPtr Idea::snapshotCopy() const {
  return copyTree(std::numeric_limits<qint64>::max(), [](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), source.mIdentifier);
    copy->shareContentOf(source);
    return copy;
  });
}

}  // namespace orrery
