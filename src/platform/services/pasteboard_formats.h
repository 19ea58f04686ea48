#pragma once
// What other programs put on a drag, read from its raw bytes: the "text/uri-list" (one URI a
// line, "#" comments, CRLF or LF) and the header of a PNG or JPEG picture, so that its size is
// known before anything is decoded. Nothing here trusts the bytes. Qt Core only; any thread.

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace platform {

namespace pasteboardformats {

// A picture is decoded only up to this many pixels.
constexpr qint64 kMaxPicturePixels = 64LL * 1024 * 1024;

// Every URL of a URI list, in order; none at all when a line is not an absolute URL, so a
// garbled list is never half read.
QList<QUrl> readURIList(const QByteArray& list);
// The list `readURIList` reads back as `urls`.
QByteArray writeURIList(const QList<QUrl>& urls);

// The absolute path of the file a "file:" URL names on this machine (no host or "localhost");
// empty for any other URL, and for a path that is relative or holds a NUL.
QString localFilePath(const QUrl& url);
// The local files the URLs name, in order; other URLs are left out.
QStringList localFilePaths(const QList<QUrl>& urls);

// What a picture's first bytes declare.
struct PictureHeader {
  const char* format = nullptr;  // "png" or "jpeg"; null when the bytes are neither
  QSize size;                    // invalid when the header does not say
};
PictureHeader readPictureHeader(const QByteArray& bytes);
// True when the header names a format and a size small enough to decode.
bool isDecodable(const PictureHeader& header);

}  // namespace pasteboardformats

}  // namespace platform
