#pragma once
// Merges two descendants of one idea tree, idea by idea: another instance's tree ("theirs")
// takes this instance's changes since their common ancestor ("base"). Ideas are matched by
// identifier. This instance's changes win: a value both changed keeps ours, an idea we changed
// survives its deletion over there, an idea we deleted goes; each such loss of the other
// side's change is listed. Any thread: the three trees are only read.

#include "model/idea.h"

#include <QString>

#include <vector>

namespace orrery {

struct IdeaMergeConflict {
  QString identifier;
  // "text", "URL", "note", "color", "icon", "image", "type", "link", "theme" for a value
  // both changed; "deleted" for an idea they deleted and we changed; "changed" for an idea we
  // deleted and they changed.
  QString what;
  // The instance whose change was lost (the writer of their tree), when known.
  QString instance;
  bool operator==(const IdeaMergeConflict&) const = default;
};

struct IdeaMergeResult {
  IdeaPtr idea;
  std::vector<IdeaMergeConflict> conflicts;
};

// The merged tree is new; none of the three is changed. Without a base, or with roots of
// different identifiers, ours is taken whole and theirs reported lost.
IdeaMergeResult mergeIdeaTrees(const IdeaPtr& base, const IdeaPtr& ours, const IdeaPtr& theirs);

}  // namespace orrery
