#pragma once
// Merges two descendants of one idea tree, idea by idea: another instance's tree ("theirs")
// takes this instance's changes since their common ancestor ("base"). Ideas are matched by
// identifier. This instance's changes win: a value both changed keeps ours, an idea we changed
// survives its deletion over there, an idea we deleted goes; each such loss of the other
// side's change is listed. Any thread: the three trees are only read.

#include "model/idea.h"

#include "platform/services/file_presenter.h"

#include <QString>
#include <QStringList>

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
  // That instance's installation (Globals::appInstallation), when the file named it.
  QString installation;
  // Tells this loss from any other of the same value of the same idea: the fingerprint of the
  // value lost, and once the loss is named for its instance (lossOfInstance), of the version
  // it was lost from. Empty in what files of earlier versions name.
  QString lostValue = {};
  bool operator==(const IdeaMergeConflict&) const = default;
};

// The tree of an instance whose changes were replaced, as that instance last wrote it: what
// its installation keeps beside the document when it learns of the loss only at a later start.
struct ReplacedTree {
  QString instance;
  QString installation;
  IdeaPtr tree;
  // The stamp of the file this instance read that version from; none for trees a file names.
  platform::FileStamp version = {};
  bool belongsTo(const IdeaMergeConflict& change) const {
    return change.instance == instance && change.installation == installation;
  }
};

struct IdeaMergeResult {
  IdeaPtr idea;
  // Each with the fingerprint of their value lost.
  std::vector<IdeaMergeConflict> conflicts;
  // The ideas of the base their tree no longer holds.
  QStringList theirDeletions = {};
};

// Whether `a` and `b` hold the same value `what` (a name of IdeaMergeConflict::what), as a file
// stores it; an unknown name holds nothing to differ.
bool sameIdeaValue(const Idea& a, const Idea& b, const QString& what);
// The names of the values in which `a` and `b` differ.
QStringList differingIdeaValues(const Idea& a, const Idea& b);
// A short text that differs between two values `what` of ideas that are not the same value
// (sameIdeaValue); of all the idea's values for "deleted" and "changed".
QString ideaValueFingerprint(const Idea& idea, const QString& what);
// `conflict`, a loss as the merge reports it, named for the instance of `loser`, the version
// it was lost from: the same value lost again from a later version is another loss.
IdeaMergeConflict lossOfInstance(IdeaMergeConflict conflict, const ReplacedTree& loser);
// An idea without children holding `source`'s identifier and values, to compare with later.
IdeaPtr ideaValuesOf(const Idea& source);

// Adds `tree`, replacing an older tree of the same instance (the latest holds all it wrote).
void addReplacedTree(std::vector<ReplacedTree>& trees, ReplacedTree tree);

// The merged tree is new; none of the three is changed. Without a base, or with roots of
// different identifiers, ours is taken whole and theirs reported lost.
IdeaMergeResult mergeIdeaTrees(const IdeaPtr& base, const IdeaPtr& ours, const IdeaPtr& theirs);

}  // namespace orrery
