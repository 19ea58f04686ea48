#pragma once
// A look at the iCloud Documents folder while its list is shown: maps a sync tool copies in
// while the program runs are named within a few seconds, as the documents no index names are
// at start.

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace orrery {

// Seconds between two looks while the list is ready.
inline constexpr double kNewDocumentsScanSeconds = 3.0;

// On a global queue: moves the sync tools' conflict copies into the versions folder (except
// those named in `listedCopies`, which the user sees as documents), then hands the main queue
// the plain document names of `folder` that `known` lacks, in name order (none when the
// folder cannot be read).
void scanForNewDocuments(const QString& folder, QSet<QString> known, QSet<QString> listedCopies,
                         std::function<void(const QStringList& added)> answer);

// The names among `names` that are sync tools' conflict copies of a document.
QSet<QString> conflictCopyNames(const QStringList& names);

}  // namespace orrery
