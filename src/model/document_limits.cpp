#include "model/document_limits.h"

#include "model/document_memory_bound.h"
#include "model/idea.h"
#include "model/json_encoder.h"

#include "foundation/globals.h"
#include "foundation/logging.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace orrery {

namespace {

// What the writer may write for one object of a file beyond the file's own text of it: an
// identifier the file left out or repeated (a new one of about 30 characters), a type and a child
// rule it left out or wrote shorter (at most 11 digits each, with their names), and the padding of
// two Base64 texts.
constexpr qint64 kWrittenBeyondReadPerObject = 128;
// And once a document: the dates, the writer's marks and the version.
constexpr qint64 kWrittenBeyondReadPerDocument = 4096;

QString localized(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
}

qint64 wholeMiB(qint64 bytes) { return (bytes + (qint64(1) << 20) - 1) >> 20; }

// One zlib stream of `json` of at least `leastBytes` bytes, so that the reader's memory bound
// takes it: compressed at zlib's default level, which packs a long run of one character a
// thousand to one, until only as much input is left as the file still needs; that rest is stored
// as it is. Every zlib reader reads such a stream. Without a least size it is the default level
// throughout. Nothing on failure.
std::optional<QByteArray> documentStream(const QByteArray& json, qint64 leastBytes) {
  constexpr qsizetype kPiece = qsizetype(1) << 20;
  z_stream zs{};
  if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) return std::nullopt;
  // Room for any level: stored blocks take 5 bytes per 64 KiB beyond their content, within the bound.
  QByteArray out(qsizetype(compressBound(uLong(json.size()))) + 64, Qt::Uninitialized);
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(json.constData()));
  qsizetype fed = 0;
  auto feed = [&](qsizetype bytes, int flush) {
    zs.avail_in = uInt(bytes);
    fed += bytes;
    const int rc = deflate(&zs, flush);
    return flush == Z_FINISH ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_in == 0;
  };
  bool ok = true;
  bool finished = false;
  // At the default level while what is left, stored as it is, still takes the file to its size;
  // what the level holds back until later only makes the file larger than counted here.
  while (ok && !finished) {
    const qsizetype left = json.size() - fed;
    const qint64 toStore = std::max<qint64>(leastBytes - qint64(zs.total_out), 0);
    const qsizetype piece = qsizetype(std::min<qint64>(kPiece, left - toStore));
    if (piece <= 0 && toStore > 0) break;
    finished = piece == left;
    ok = feed(piece, finished ? Z_FINISH : Z_NO_FLUSH);
  }
  if (ok && !finished) {
    // What came before ends its block at the default level; the rest goes in stored blocks.
    const int flushed = deflate(&zs, Z_BLOCK);
    ok = (flushed == Z_OK || flushed == Z_BUF_ERROR) &&
         deflateParams(&zs, Z_NO_COMPRESSION, Z_DEFAULT_STRATEGY) == Z_OK && feed(json.size() - fed, Z_FINISH);
  }
  const qsizetype written = out.size() - qsizetype(zs.avail_out);
  deflateEnd(&zs);
  if (!ok) return std::nullopt;
  out.truncate(written);
  return out;
}

}  // namespace

QString DocumentLimits::textTooLongMessage() {
  return localized("TextTooLong:Message", "A title or note holds at most %1 characters: the text was not added")
      .arg(kMaxTextLength);
}

QString DocumentLimits::tooDeepMessage() {
  return localized("DocumentTooDeep:Message",
                   "The map has no room for this here: a map holds ideas at most %1 levels deep")
      .arg(kMaxDepth);
}

QString DocumentLimits::documentFullMessage() {
  return localized("DocumentFull:Message",
                   "The map has no room for this: a map holds at most %1 MB, and %2 ideas and icons together")
      .arg(kMaxJSONBytes >> 20)
      .arg(kMaxIdeasAndIcons);
}

QString DocumentLimits::beyondSizeRefusal() {
  return localized("DocumentTooLargeToOpen:Size", "it would take more than the %1 MB a map can hold")
      .arg(kMaxJSONBytes >> 20);
}

QString DocumentLimits::beyondObjectsRefusal() {
  return localized("DocumentTooLargeToOpen:Objects", "it holds more than the %1 ideas and icons a map can hold")
      .arg(kMaxIdeasAndIcons);
}

QString DocumentLimits::beyondMemoryRefusal(qint64 budget, qint64 fileBytes) {
  return localized("DocumentTooLargeToOpen:Memory",
                   "reading it would take more than the %1 MB of memory a file of %2 KB may take")
      .arg(budget >> 20)
      .arg((fileBytes + 1023) / 1024);
}

QString DocumentLimits::outOfMemoryRefusal() {
  return localized("DocumentTooLargeToOpen:OutOfMemory", "there is not enough memory to read it");
}

DocumentSize DocumentSize::of(const Idea& idea, int level) {
  const int deepest = levelsOf(idea, level).deepest;
  // A subtree the file could not hold is not encoded: the encoder stops at its nesting bound.
  if (deepest > DocumentLimits::kMaxDepth) return {0, 0, 0, deepest};
  JSONEncoder encoder;
  encoder.encodeTopObject(idea);
  return of(encoder, deepest);
}

DocumentSize DocumentSize::boundOfRead(qint64 parsedBytes, qint64 objects, int deepest) {
  return {parsedBytes + objects * kWrittenBeyondReadPerObject + kWrittenBeyondReadPerDocument, objects, 0, deepest};
}

DocumentSize DocumentSize::levelsOf(const Idea& idea, int level) {
  // Without recursion: the tree may be deeper than any limit.
  int deepest = level;
  std::vector<std::pair<const Idea*, int>> pending{{&idea, level}};
  while (!pending.empty()) {
    const auto [next, at] = pending.back();
    pending.pop_back();
    deepest = std::max(deepest, at);
    for (const IdeaPtr& child : next->ideas())
      if (child) pending.emplace_back(child.get(), at + 1);
  }
  return {0, 0, 0, deepest};
}

int DocumentSize::levelOf(const Idea& idea) {
  int level = 1;
  for (IdeaPtr parent = idea.parent(); parent; parent = parent->parent()) ++level;
  return level;
}

DocumentSize DocumentSize::of(const JSONEncoder& encoder, int deepest) {
  return {encoder.length(), encoder.objectsWritten(), encoder.longestText(), deepest};
}

DocumentSize DocumentSize::changedBy(const DocumentSize& added, const DocumentSize& removed) const {
  return {std::max<qint64>(0, jsonBytes + added.jsonBytes - removed.jsonBytes),
          std::max<qint64>(0, objects + added.objects - removed.objects), std::max(longestText, added.longestText),
          std::max(deepest, added.deepest)};
}

bool DocumentSize::withinLimits() const {
  return jsonBytes <= DocumentLimits::kMaxJSONBytes && objects <= DocumentLimits::kMaxObjects &&
         longestText <= DocumentLimits::kMaxTextLength && deepest <= DocumentLimits::kMaxDepth;
}

QString DocumentSize::refusal() const {
  if (deepest > DocumentLimits::kMaxDepth)
    return localized("DocumentTooLargeToSave:Depth", "its ideas go deeper than the %1 levels a map can hold")
        .arg(DocumentLimits::kMaxDepth);
  if (longestText > DocumentLimits::kMaxTextLength)
    return localized("DocumentTooLargeToSave:Text", "a text of %1 characters is longer than the %2 a map can hold")
        .arg(longestText)
        .arg(DocumentLimits::kMaxTextLength);
  if (jsonBytes > DocumentLimits::kMaxJSONBytes)
    return localized("DocumentTooLargeToSave:Size", "it would take %1 MB, more than the %2 MB a map can hold")
        .arg(wholeMiB(jsonBytes))
        .arg(DocumentLimits::kMaxJSONBytes >> 20);
  // Counted as the full-map alert counts them: the file's own record is none of them.
  if (objects > DocumentLimits::kMaxObjects)
    return localized("DocumentTooLargeToSave:Objects", "it holds %1 ideas and icons, more than the %2 a map can hold")
        .arg(objects - 1)
        .arg(DocumentLimits::kMaxIdeasAndIcons);
  return {};
}

EncodedDocument documentFileWithinLimits(const JSONEncoder& encoder, int deepest, bool compressed) {
  EncodedDocument file;
  const QByteArray json = encoder.data();
  if (json.isEmpty()) return file;
  file.size = DocumentSize::of(encoder, deepest);
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
