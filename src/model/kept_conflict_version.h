#pragma once
// What settling a document's conflict kept: the newest version takes the file, and every other
// version (this device's among them) lives on as a document of its own, which the user is told.

#include <QString>

#include <functional>
#include <vector>

namespace orrery {

struct KeptConflictVersion {
  // Whose version it was: empty for this device's, else the mark the sync tool gave its copy
  // ("Machine B's conflicted copy 2026-12-08", "sync-conflict-20261208-123456-B").
  QString source;
  // The name of the document it became.
  QString documentName;
  bool operator==(const KeptConflictVersion&) const = default;
};

// Called once on the main thread: whether the conflict was settled, and what was kept.
using ConflictCompletion = std::function<void(bool resolved, const std::vector<KeptConflictVersion>& kept)>;

}  // namespace orrery
