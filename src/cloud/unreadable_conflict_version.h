#pragma once
// A conflict version of an iCloud document that this program cannot read: written by a newer
// release, or cut short by an interrupted transfer. It is never deleted and never taken for a
// kept document: it goes back beside the documents under a name that says what it is, where
// the user (or a newer release) finds it, and the user is told why.

#include <QString>

namespace orrery {

// On any thread: moves the version file at `versionPath` into `documentsFolder` as
// "<document stem> (<source>) - <problem>.unreadable" (a free name; <source> is the sync
// tool's mark, else "this device"); the name it took, empty when it could not be moved (it
// then stays where it is).
QString setUnreadableVersionAside(const QString& versionPath, const QString& documentsFolder,
                                  const QString& documentName, const QString& source, bool newerFormat);

// Why such a version could not be read, for the user.
QString unreadableVersionProblem(bool newerFormat);

}  // namespace orrery
