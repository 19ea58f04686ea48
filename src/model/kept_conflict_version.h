#pragma once
// What settling a document's conflict kept: the newest readable version takes the file, every
// other readable version (this device's among them) lives on as a document of its own, and a
// version that cannot be read is kept as a file beside the documents; the user is told of each.

#include <QString>

#include <functional>
#include <vector>

namespace orrery {

struct KeptConflictVersion {
  // Whose version it was: empty for this device's, else the mark the sync tool gave its copy
  // ("Machine B's conflicted copy 2026-12-08", "sync-conflict-20261208-123456-B").
  QString source;
  // The name of the document it became; for a version that could not be read, the name of the
  // file it was kept as beside the documents.
  QString documentName;
  // Why the version could not be read; empty when it became a document.
  QString problem;
  bool operator==(const KeptConflictVersion&) const = default;
};

// Called once on the main thread: whether the conflict was settled, and what was kept.
using ConflictCompletion = std::function<void(bool resolved, const std::vector<KeptConflictVersion>& kept)>;

}  // namespace orrery
