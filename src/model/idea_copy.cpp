// Copies of a subtree: with new identifiers (whole or some levels) and the snapshot that
// shares content.

#include "model/idea.h"
#include "model/idea_identifier_maker.h"

#include <QHash>

#include <algorithm>
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
  mIdeaType = source->mIdeaType;
  mText = source->mText;
  mColor = source->mColor;
  colorThemeTypeValue = source->colorThemeTypeValue;
  // Note, URL, icon and pictures; shared until either side changes one (then it gets its own).
  const QString linked = ex().linkedIdentifier;
  mExtras = source->mExtras;
  if (ex().linkedIdentifier != linked) mut().linkedIdentifier = linked;
}

IdeaPtr Idea::copyWithNewIdentifiers(bool preserveExternalLinks, qint64 depth) const {
  const IdentifierMaker identifiers;
  std::vector<std::pair<const Idea*, Idea*>> links;   // (source link, its copy)
  std::vector<std::pair<const Idea*, Idea*>> copies;  // (source, its copy) in pre-order
  auto copyOf = [&](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), identifiers.next());
    if (source.isLink()) {
      copy->mIdeaType = IdeaTypeLink;
      copy->mut().linkedIdentifier = source.ex().linkedIdentifier;
      links.emplace_back(&source, copy.get());
    } else {
      copy->takeContentOf(&source);
    }
    copies.emplace_back(&source, copy.get());
    return copy;
  };

  const IdeaPtr top = copyTree(depth, copyOf);
  if (links.empty()) return top;
  // The first copy, in pre-order, of every source idea a link names: only those identifiers
  // are hashed into the table, not the whole tree's.
  QHash<QString, Idea*> copyBySource;
  copyBySource.reserve(qsizetype(links.size()));
  for (const auto& link : links) copyBySource.insert(link.first->ex().linkedIdentifier, nullptr);
  for (const auto& [source, copy] : copies) {
    const auto named = copyBySource.find(source->mIdentifier);
    if (named != copyBySource.end() && !*named) *named = copy;
  }
  for (const auto& [sourceLink, linkCopy] : links) {
    if (Idea* inside = copyBySource.value(sourceLink->ex().linkedIdentifier)) {
      linkCopy->mut().linkedIdentifier = inside->mIdentifier;
      linkCopy->mLinkedIdea.reset();
    } else if (!preserveExternalLinks) {
      // The stored target identifier stays but is no longer used.
      const IdeaPtr target = sourceLink->linkedIdea();
      linkCopy->takeContentOf(target.get());
    }
  }
  return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const {
  return copyWithNewIdentifiers(preserveExternalLinks, std::numeric_limits<qint64>::max());
}

IdeaPtr Idea::copyTree(qint64 depth, const std::function<IdeaPtr(const Idea& source)>& copyOf) const {
  // Built with an explicit stack (no tree is too deep) and the children attached directly:
  // a fresh copy can be nobody's ancestor, so the checks of insertIdea are not needed.
  struct Frame {
    const Idea* source;
    Idea* copy;
    size_t next;
  };
  IdeaPtr top = copyOf(*this);
  std::vector<Frame> stack;
  stack.push_back({this, top.get(), 0});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const auto& children = frame.source->mIdeas;
    if (qint64(stack.size()) >= depth || frame.next >= children.size()) {
      stack.pop_back();
      continue;
    }
    Idea& parent = *frame.copy;
    if (frame.next == 0) parent.mIdeas.reserve(children.size());
    const Idea& child = *children[frame.next++];
    IdeaPtr& childCopy = parent.mIdeas.emplace_back(copyOf(child));
    childCopy->mParent = parent.weak_from_this();
    stack.push_back({&child, childCopy.get(), 0});
  }
  return top;
}

IdeaPtr Idea::snapshotCopy() const {
  return copyTree(std::numeric_limits<qint64>::max(), [](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, source.mText, source.mIdentifier);
    copy->mIdeaType = source.mIdeaType;
    copy->mExtras = source.mExtras;
    copy->mColor = source.mColor;
    copy->colorThemeTypeValue = source.colorThemeTypeValue;
    return copy;
  });
}

}  // namespace orrery
