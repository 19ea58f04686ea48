#pragma once
// The maps of a Dropbox mirror folder whose status file is lost. No record says any more which
// file is which document's newest version, yet no map the user made may go with the records.
// Every readable ".orrx" file is one version of a map. Versions of one map share its root
// idea, its creation date and the installation that wrote them; the newest (by the map's
// modification date, then by the order the engine made the file names in) stands for the map
// and the older ones are left to the start-up clean-up, as with records. A version another
// installation wrote (downloaded from the app folder) counts as a map of its own, so that both
// sides of a conflict not yet sent are kept. Any thread.

#include <QString>
#include <QStringList>

namespace orrery {

// The file names in `folder` that stand for its maps, in name order. Only plain files are
// read; one that holds no readable map is logged and left out.
QStringList newestMapVersionsIn(const QString& folder);

}  // namespace orrery
