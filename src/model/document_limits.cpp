#include "model/document_limits.h"

#include "model/document_memory_bound.h"
#include "model/json_encoder.h"

#include "foundation/data_extensions.h"
#include "foundation/globals.h"
#include "foundation/logging.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <string_view>

namespace orrery {

namespace {

// Beyond its own text an idea added to a list takes a comma, or the list's member around it.
constexpr qint64 kListMemberBytes = 16;

QString localized(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
}

qint64 wholeMiB(qint64 bytes) { return (bytes + (qint64(1) << 20) - 1) >> 20; }

// One zlib stream of `json` of at least `leastBytes` bytes, so that the reader's memory bound
// takes it. The default level packs long runs of one character a thousand to one, and a map of
// such texts would look like a compression bomb; then the stream stores as many of the first
// bytes as they are as make it large enough, and compresses the rest at the default level. Every
// zlib reader reads such a stream. Nothing on failure.
std::optional<QByteArray> documentStream(const QByteArray& json, qint64 leastBytes) {
  std::optional<QByteArray> packed = dataext::zlibDeflate(json);
  if (!packed || packed->size() >= leastBytes) return packed;
  const qsizetype stored = std::min<qsizetype>(json.size(), leastBytes);
  z_stream zs{};
  if (deflateInit(&zs, Z_NO_COMPRESSION) != Z_OK) return std::nullopt;
  // Stored blocks take 5 bytes per 64 KiB beyond their content, within the bound of any level.
  QByteArray out(qsizetype(compressBound(uLong(json.size()))) + 64, Qt::Uninitialized);
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(json.constData()));
  zs.avail_in = uInt(stored);
  // The stored part ends its block before the level changes; deflateParams needs no input left.
  bool done = deflate(&zs, Z_BLOCK) == Z_OK && zs.avail_in == 0 &&
              deflateParams(&zs, Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY) == Z_OK;
  if (done) {
    zs.avail_in = uInt(json.size() - stored);
    done = deflate(&zs, Z_FINISH) == Z_STREAM_END;
  }
  const qsizetype written = out.size() - qsizetype(zs.avail_out);
  deflateEnd(&zs);
  if (!done) return std::nullopt;
  out.truncate(written);
  return out;
}

}  // namespace

QString DocumentLimits::textTooLongMessage() {
  return localized("TextTooLong:Message", "A title or note holds at most %1 characters: the text was not added")
      .arg(kMaxTextLength);
}

QString DocumentLimits::documentFullMessage() {
  return localized("DocumentFull:Message",
                   "The map has no room for this: a map holds at most %1 MB of texts and pictures and %2 ideas")
      .arg(kMaxJSONBytes >> 20)
      .arg(kMaxObjects);
}

DocumentSize DocumentSize::of(const KeyedCodable& object) {
  JSONEncoder encoder;
  encoder.encodeTopObject(object);
  DocumentSize size = of(encoder);
  size.jsonBytes += kListMemberBytes;
  return size;
}

DocumentSize DocumentSize::of(const JSONEncoder& encoder) {
  return {encoder.length(), encoder.objectsWritten(), encoder.longestText()};
}

DocumentSize DocumentSize::changedBy(const DocumentSize& added, const DocumentSize& removed) const {
  return {std::max<qint64>(0, jsonBytes + added.jsonBytes - removed.jsonBytes),
          std::max<qint64>(0, objects + added.objects - removed.objects), std::max(longestText, added.longestText)};
}

bool DocumentSize::withinLimits() const {
  return jsonBytes <= DocumentLimits::kMaxJSONBytes && objects <= DocumentLimits::kMaxObjects &&
         longestText <= DocumentLimits::kMaxTextLength;
}

QString DocumentSize::refusal() const {
  if (longestText > DocumentLimits::kMaxTextLength)
    return localized("DocumentTooLargeToSave:Text", "a text of %1 characters is longer than the %2 a map can hold")
        .arg(longestText)
        .arg(DocumentLimits::kMaxTextLength);
  if (jsonBytes > DocumentLimits::kMaxJSONBytes)
    return localized("DocumentTooLargeToSave:Size", "it would take %1 MB, more than the %2 MB a map can hold")
        .arg(wholeMiB(jsonBytes))
        .arg(DocumentLimits::kMaxJSONBytes >> 20);
  if (objects > DocumentLimits::kMaxObjects)
    return localized("DocumentTooLargeToSave:Objects", "it holds %1 ideas and icons, more than the %2 a map can hold")
        .arg(objects)
        .arg(DocumentLimits::kMaxObjects);
  return {};
}

EncodedDocument documentFileWithinLimits(const JSONEncoder& encoder, bool compressed) {
  EncodedDocument file;
  const QByteArray json = encoder.data();
  if (json.isEmpty()) return file;
  file.size = DocumentSize::of(encoder);
  file.refusal = file.size.refusal();
  if (!file.refusal.isEmpty()) {
    logLine(QStringLiteral("Document of %1 bytes of JSON, %2 objects, a text of %3 characters not written: %4")
                .arg(file.size.jsonBytes)
                .arg(file.size.objects)
                .arg(file.size.longestText)
                .arg(file.refusal));
    return file;
  }
  if (!compressed) {
    file.bytes = json;
    return file;
  }
  DocumentMemoryBound projection(0);
  projection.add(std::string_view(json.constData(), size_t(json.size())));
  file.bytes = documentStream(json, DocumentMemoryBound::leastFileBytesFor(projection.projectedBytes()))
                   .value_or(QByteArray());
  return file;
}

}  // namespace orrery
