#include "platform/services/pasteboard_formats.h"

namespace platform {

namespace pasteboardformats {

QList<QUrl> readURIList(const QByteArray& list) {
  QList<QUrl> found;
  for (QByteArray line : list.split('\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return {};
    found << url;
  }
  return found;
}

QByteArray writeURIList(const QList<QUrl>& urls) {
  QByteArray list;
  for (const QUrl& url : urls) list += url.toEncoded() + "\r\n";
  return list;
}

QString localFilePath(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  QUrl local = url;
  // "localhost" names this machine, as no host does; any other host is another machine's file.
  if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) local.setHost(QString());
  else if (!url.host().isEmpty()) return {};
  const QString path = local.toLocalFile();
  // "file:name" names no file of its own; a NUL would cut the path short where it is opened.
  if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) return {};
  return path;
}

QStringList localFilePaths(const QList<QUrl>& urls) {
  QStringList paths;
  for (const QUrl& url : urls)
    if (QString path = localFilePath(url); !path.isEmpty()) paths << path;
  return paths;
}

namespace {

quint32 bigEndian(const QByteArray& bytes, qsizetype at, int count) {
  quint32 value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | static_cast<quint8>(bytes[at + i]);
  return value;
}

// The signature, then the IHDR chunk, which must come first: its length, its name, width, height.
QSize pngSize(const QByteArray& bytes) {
  if (bytes.size() < 24 || bigEndian(bytes, 8, 4) != 13 || bytes.mid(12, 4) != "IHDR") return {};
  const quint32 width = bigEndian(bytes, 16, 4);
  const quint32 height = bigEndian(bytes, 20, 4);
  // Zero and anything past 2^31 - 1 are not sizes.
  if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu) return {};
  return QSize(static_cast<int>(width), static_cast<int>(height));
}

// Walks the marker segments after the start of image to the first frame header.
QSize jpegSize(const QByteArray& bytes) {
  qsizetype at = 2;
  while (at < bytes.size()) {
    if (static_cast<quint8>(bytes[at]) != 0xFF) return {};
    while (at < bytes.size() && static_cast<quint8>(bytes[at]) == 0xFF) ++at;  // fill bytes
    if (at >= bytes.size()) return {};
    const quint8 marker = static_cast<quint8>(bytes[at++]);
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length follows
    // Stuffed zero, a second start, the end or the scan: no frame header came first.
    if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return {};
    if (bytes.size() - at < 2) return {};
    const quint32 length = bigEndian(bytes, at, 2);
    if (length < 2 || bytes.size() - at < length) return {};
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 8) return {};
      const quint32 height = bigEndian(bytes, at + 3, 2);
      const quint32 width = bigEndian(bytes, at + 5, 2);
      // A height of zero is given later in the scan; such a picture is not sized up front.
      if (width == 0 || height == 0) return {};
      return QSize(static_cast<int>(width), static_cast<int>(height));
    }
    at += length;
  }
  return {};
}

}  // namespace

PictureHeader readPictureHeader(const QByteArray& bytes) {
  static const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);
  if (bytes.startsWith(pngSignature)) return {"png", pngSize(bytes)};
  if (bytes.size() >= 2 && static_cast<quint8>(bytes[0]) == 0xFF && static_cast<quint8>(bytes[1]) == 0xD8)
    return {"jpeg", jpegSize(bytes)};
  return {};
}

bool isDecodable(const PictureHeader& header) {
  return header.format && header.size.isValid() &&
         qint64(header.size.width()) * header.size.height() <= kMaxPicturePixels;
}

}  // namespace pasteboardformats

}  // namespace platform
