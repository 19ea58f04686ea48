#include "model/document_limits.h"

#include "model/document_memory_bound.h"
#include "model/json_encoder.h"

#include "foundation/data_extensions.h"
#include "foundation/globals.h"
#include "foundation/logging.h"

#include <algorithm>
#include <string_view>

namespace orrery {

namespace {

// Beyond its own text an idea added to a list takes a comma, or the list's member around it.
constexpr qint64 kListMemberBytes = 16;

QString localized(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
}

qint64 wholeMiB(qint64 bytes) { return (bytes + (qint64(1) << 20) - 1) >> 20; }

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
  if (file.refusal.isEmpty()) {
    QByteArray bytes = compressed ? dataext::zlibDeflate(json).value_or(QByteArray()) : json;
    if (bytes.isEmpty()) return file;
    // A file whose texts repeat compresses so well that reading it would take more memory than
    // a file of its size may ask for: the reader takes it for a compression bomb.
    DocumentMemoryBound bound(bytes.size());
    if (bound.add(std::string_view(json.constData(), size_t(json.size()))))
      file.bytes = std::move(bytes);
    else
      file.refusal = localized("DocumentTooLargeToSave:Memory",
                               "its texts repeat so much that opening it would take more memory than a file of "
                               "its size may ask for");
  }
  if (!file.refusal.isEmpty())
    logLine(QStringLiteral("Document of %1 bytes of JSON, %2 objects, a text of %3 characters not written: %4")
                .arg(file.size.jsonBytes)
                .arg(file.size.objects)
                .arg(file.size.longestText)
                .arg(file.refusal));
  return file;
}

}  // namespace orrery
