#pragma once
// The maps of a Dropbox mirror folder, read for a start-up that must not lose one of them. A
// record that was lost or damaged no longer says which file is which document's newest
// version, yet no map the user made may go with the record. Every readable ".orrx" file is one
// version of a map; versions of one map share its root idea and its creation date. A file
// that holds no readable map (damaged, or written by a newer program) is logged and left
// where it is. Any thread.

#include "cloud/document_info.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace orrery {

// Without records (the status file is lost): the file names in `folder` that stand for its
// maps, in name order. The newest version (by the map's modification date, then by the order
// the engine made the file names in) stands for each map and the older ones are left to the
// next start. A version another installation wrote (downloaded from the app folder) counts as
// a map of its own, so that both sides of a conflict not yet sent are kept.
QStringList newestMapVersionsIn(const QString& folder);

// What a start with records makes of the ".orrx" files in `folder` that no record names.
struct UnnamedMapFiles {
  // Versions made before the newest version a record names of their map, and versions of a
  // map whose deletion waits to be sent: deleted.
  QStringList older;
  // Record key to a version of its map that this installation made after every version the
  // record names (the record was written before it): the record takes it as its edit.
  QHash<QString, QString> newer;
  // The newest version of each map no record names (as newestMapVersionsIn picks them): each
  // gets a record.
  QStringList withoutRecord;
};
// Everything else stays where it is: unreadable files, newer versions another installation
// wrote, and the older versions of maps without records (the next start finds them older than
// the version their new record names). Named files are read only until every unnamed
// version's map is found, the files made last first.
UnnamedMapFiles sortUnnamedMapFiles(const QString& folder, const QStringList& unnamed,
                                    const QHash<QString, DocumentInfoPtr>& records);

}  // namespace orrery
