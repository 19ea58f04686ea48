#pragma once
// The local document windows of a run. Where the desktop restores document windows itself
// this is the system's job; here the application keeps the files of those windows at quit and
// reopens them at the next start, where they were, leaving out files that are gone.

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <optional>
#include <utility>
#include <vector>

namespace orrery::localwindows {

// The user default that holds the files.
inline constexpr char kStoredFilesKey[] = "LocalDocumentWindows";
// The user default that holds each file's window frame: a dictionary from the file's path to
// the frame's text (the form of the stored window state).
inline constexpr char kStoredFramesKey[] = "LocalDocumentWindowFrames";

// One spelling per file: the canonical path when the file exists, else the clean absolute one.
QString canonicalPath(const QString& path);

// The files of the windows that show local files (file URLs), in window order, each once.
QStringList filesOf(const std::vector<QUrl>& windowURLs);
// The stored files to reopen: existing regular files, each once, without those in `skip`
// (files opened otherwise, such as those handed over at launch). Anything stored that is not
// a list of texts gives none.
QStringList reopenable(const QVariant& stored, const QStringList& skip);

// The frames to store: those of `windows` (file URL and frame) that show local files, by
// canonical path, over the `kept` frames of files not shown again yet.
QVariantMap framesOf(const std::vector<std::pair<QUrl, QRectF>>& windows, const QVariantMap& kept);
// The stored frame of one file; none when nothing usable is stored for it.
std::optional<QRectF> storedFrame(const QVariant& stored, const QString& path);

}  // namespace orrery::localwindows
