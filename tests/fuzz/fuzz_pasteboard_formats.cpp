// Whatever another program drags in is read or refused, never crashes the reader, and reads
// the same whichever line ends it uses. A list that is read names local files only by
// absolute paths and comes back the same when written again. A picture header gives a size
// that the bytes after it cannot change.

#include "platform/services/pasteboard_formats.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace platform::pasteboardformats;

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void readList(const QByteArray& list) {
  const QList<QUrl> urls = readURIList(list);
  QByteArray unixLines = list;
  unixLines.replace("\r\n", "\n");
  if (readURIList(unixLines) != urls) fail("the list reads differently with LF line ends");
  if (urls.isEmpty()) return;

  for (const QUrl& url : urls)
    if (!url.isValid() || url.scheme().isEmpty()) fail("a URL without a scheme got through");
  for (const QString& path : localFilePaths(urls)) {
    if (!path.startsWith(QLatin1Char('/'))) fail("a local file that is not an absolute path");
    if (path.contains(QChar(0))) fail("a local file with a NUL in its path");
  }
  // QUrl may store a part as read ("##") and write it escaped ("%23%23"): the same URL, so what
  // must hold is that the written list is stable and names the same files.
  const QByteArray written = writeURIList(urls);
  const QList<QUrl> again = readURIList(written);
  if (again.size() != urls.size() || writeURIList(again) != written)
    fail("a list read does not come back when written");
  if (localFilePaths(again) != localFilePaths(urls)) fail("the files change when the list is written again");
}

void readPicture(const QByteArray& bytes) {
  const PictureHeader header = readPictureHeader(bytes);
  if (!header.format && header.size.isValid()) fail("a size without a format");
  if (header.size.isValid() && (header.size.width() <= 0 || header.size.height() <= 0)) fail("an empty size");
  if (isDecodable(header) && qint64(header.size.width()) * header.size.height() > kMaxPicturePixels)
    fail("a picture over the limit would be decoded");
  if (!header.format) return;
  const PictureHeader longer = readPictureHeader(bytes + QByteArray(16, '\xff') + bytes);
  if (header.size.isValid() && (longer.format != header.format || longer.size != header.size))
    fail("bytes after the header changed its size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  readList(bytes);
  readPicture(bytes);
  return 0;
}
