#pragma once
// What one document may hold: the one definition the reader, the writer and every way content
// comes in share. The reader refuses a file beyond any limit with "The document is too large to
// open" before it takes the memory the file asks for (decoding costs a few times the JSON's
// size; see also document_memory_bound.h); so the writer refuses to write such a file, and the
// ways in (typing, pasting, imports, pictures, copies) refuse content that would make one,
// saying so. Within these limits every map is written in a form the reader takes, however its
// texts repeat. A real map stays far below: 100 000 ideas are about 12 MB of JSON, a picture idea
// about 90 KB.

#include "model/keyed_coding.h"

#include <QByteArray>
#include <QString>

namespace orrery {

class Idea;
class JSONEncoder;

struct DocumentLimits {
  static constexpr qsizetype kMaxJSONBytes = qsizetype(256) << 20;  // 256 MiB of JSON text
  // An index of maps is read whole up to as much as a map's file may take; a larger file is none.
  static constexpr qint64 kMaxIndexFileBytes = kMaxJSONBytes;
  static constexpr qint64 kMaxObjects = 1000000;                      // coded objects: ideas, icons
  // Of the objects a file holds, one is the file's own record; every other is an idea or an icon,
  // which is what the user is told of.
  static constexpr qint64 kMaxIdeasAndIcons = kMaxObjects - 1;
  static constexpr qsizetype kMaxTextLength = 1000000;                // UTF-16 units of one text
  // Levels of ideas, the root the first. The file nests the data object above the root and an
  // icon below the deepest idea, which the coders take.
  static constexpr int kMaxDepth = kMaxKeyedNestingDepth - 2;

  // What the user reads where a way in refuses content: a text longer than kMaxTextLength, an
  // addition that would take the map beyond kMaxDepth, and one beyond the other limits.
  static QString textTooLongMessage();
  static QString tooDeepMessage();
  static QString documentFullMessage();

  // Why a file is refused where reading stopped before the map's measure was known, in the
  // words of DocumentSize::refusal: its JSON beyond kMaxJSONBytes, its ideas and icons beyond
  // kMaxIdeasAndIcons, more memory than a file of `fileBytes` may take (`budget`, packed more
  // tightly than the writer packs a map), or none left.
  static QString beyondSizeRefusal();
  static QString beyondObjectsRefusal();
  static QString beyondMemoryRefusal(qint64 budget, qint64 fileBytes);
  static QString outOfMemoryRefusal();
};

// The measure of a document's JSON text, as the limits count it.
struct DocumentSize {
  qint64 jsonBytes = 0;
  qint64 objects = 0;
  qsizetype longestText = 0;
  int deepest = 0;  // levels of ideas

  // The measure of `idea` with its subtree, its top at `level` (the root's level is 1); what
  // joins it to a list of children is not counted (IdeaArrival counts it).
  static DocumentSize of(const Idea& idea, int level);
  // The most the writer writes of a map read from `parsedBytes` of strict JSON text holding
  // `objects` objects: a file may leave out members the writer always writes, repeat identifiers
  // that get longer ones, or write numbers and Base64 texts shorter, but never holds a text the
  // writer writes longer.
  static DocumentSize boundOfRead(qint64 parsedBytes, qint64 objects, int deepest);
  // The levels alone that `idea` with its subtree reaches with its top at `level`: all an idea
  // moved within its map adds.
  static DocumentSize levelsOf(const Idea& idea, int level);
  // The level of `idea` in its tree.
  static int levelOf(const Idea& idea);
  // What the encoder wrote, of a tree `deepest` levels deep.
  static DocumentSize of(const JSONEncoder& encoder, int deepest);
  // `added` taking the place of `removed`; the longest text and the deepest level stay the
  // most either reached.
  DocumentSize changedBy(const DocumentSize& added, const DocumentSize& removed) const;
  DocumentSize changedBy(const DocumentSize& added) const { return changedBy(added, DocumentSize()); }
  bool withinLimits() const;
  // Why a document of this measure cannot be written, for the user; empty within the limits.
  QString refusal() const;
};

// A document file as the writer makes it.
struct EncodedDocument {
  // Empty when encoding failed or a limit refused the map.
  QByteArray bytes;
  DocumentSize size;
  // Why the file is not written, for the user, when a limit refused it.
  QString refusal;
};

// The document file of what `encoder` wrote, a tree `deepest` levels deep (its JSON text, or a
// zlib stream of it), when it is within the limits. The stream is compressed at zlib's default
// level, except for as much of its end, stored uncompressed, as a map of long runs of one
// character needs for the reader to take the file (reading may take at most so much memory per
// byte of the file).
EncodedDocument documentFileWithinLimits(const JSONEncoder& encoder, int deepest, bool compressed);

}  // namespace orrery
