#pragma once
// The sync tools' conflict copies of the iCloud index ("orrery.sync-conflict-…-B.index",
// "orrery (B's conflicted copy …).index"): another machine's list, which names documents made
// there. Folded into the list read here, so that no machine's document drops out of sight.

#include "model/idea_proxy.h"

#include "platform/services/file_presenter.h"

#include <QString>

namespace orrery {

// Folds the conflict copies of the index file at `path` into `list`, on any thread: each entry
// of a copy whose document file lies beside the index and that the list lacks is added at its
// end, the merged list is written to `path` and the copies are removed; a copy that does not
// read stays for a later read. `presenter` is the index's, by identity. The number of entries
// added.
int mergeIndexConflictCopies(const QString& path, const platform::FilePresenter* presenter, ProxyList& list);

}  // namespace orrery
