#pragma once
// The local document windows of a run. Where the desktop restores document windows itself
// this is the system's job; here the application keeps the files of those windows at quit and
// reopens them at the next start, leaving out files that are gone.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <vector>

namespace orrery::localwindows {

// The user default that holds the files.
inline constexpr char kStoredFilesKey[] = "LocalDocumentWindows";

// One spelling per file: the canonical path when the file exists, else the clean absolute one.
QString canonicalPath(const QString& path);

// The files of the windows that show local files (file URLs), in window order, each once.
QStringList filesOf(const std::vector<QUrl>& windowURLs);
// The stored files to reopen: existing regular files, each once, without those in `skip`
// (files opened otherwise, such as those handed over at launch). Anything stored that is not
// a list of texts gives none.
QStringList reopenable(const QVariant& stored, const QStringList& skip);

}  // namespace orrery::localwindows
