// The document file format of IdeaDocument, and the names derived from its root idea.

#include "model/idea_document.h"

#include "model/idea.h"
#include "model/document_memory_bound.h"
#include "model/idea_document_data_object.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"
#include "model/opml_parser.h"

#include "foundation/globals.h"
#include "foundation/logging.h"

#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <new>
#include <utility>

namespace orrery {

namespace {

// The levels of a document's trees: its own and those it keeps for other instances, which the
// file nests as deep.
int deepestLevel(const IdeaPtr& idea, const std::vector<ReplacedTree>& replacedTrees) {
  int deepest = idea ? DocumentSize::levelsOf(*idea, 1).deepest : 0;
  for (const ReplacedTree& replaced : replacedTrees)
    if (replaced.tree) deepest = std::max(deepest, DocumentSize::levelsOf(*replaced.tree, 1).deepest);
  return deepest;
}

}  // namespace

namespace {

// The data object a save of `snapshot` writes.
IdeaDocumentDataObject dataObjectOf(const DocumentSnapshot& snapshot) {
  IdeaDocumentDataObject object;
  object.fileFormatVersion = IdeaDocumentDataObject::kCurrentFileFormatVersion;
  object.dateModified = snapshot.dateModified.isValid() ? snapshot.dateModified : QDateTime::currentDateTimeUtc();
  object.dateCreated = snapshot.dateCreated.isValid() ? snapshot.dateCreated : snapshot.dateModified;
  object.idea = snapshot.idea;
  object.writerMark = snapshot.writerMark;
  object.writerInstallation = snapshot.writerInstallation;
  object.replacedChanges = snapshot.allReplaced();
  // Only the trees of instances the file still names.
  for (const ReplacedTree& tree : snapshot.replacedTrees)
    if (std::any_of(object.replacedChanges.begin(), object.replacedChanges.end(),
                    [&](const IdeaMergeConflict& change) { return tree.belongsTo(change); }))
      object.replacedTrees.push_back(tree);
  return object;
}

}  // namespace

EncodedDocument DocumentSnapshot::encodeWithinLimits(bool compressed) const {
  // A file without a tree is refused on reading; writing one would lose the map unseen.
  if (!idea) return {};
  const IdeaDocumentDataObject object = dataObjectOf(*this);
  // A tree deeper than a map holds is not encoded at all: the encoder stops at its nesting bound.
  EncodedDocument refused;
  refused.size.deepest = deepestLevel(object.idea, object.replacedTrees);
  refused.refusal = refused.size.refusal();
  if (!refused.refusal.isEmpty()) {
    logLine(QStringLiteral("Document %1 levels deep not written").arg(refused.size.deepest));
    return refused;
  }
  JSONEncoder encoder;
  encoder.encodeObject(object);
  return documentFileWithinLimits(encoder, refused.size.deepest, compressed);
}

DocumentSize DocumentSnapshot::measure() const {
  if (!idea) return {};
  const IdeaDocumentDataObject object = dataObjectOf(*this);
  const int deepest = deepestLevel(object.idea, object.replacedTrees);
  // Beyond the deepest level the encoder stops: such a tree is measured by its levels alone.
  if (deepest > DocumentLimits::kMaxDepth) return {0, 0, 0, deepest};
  JSONEncoder encoder;
  encoder.encodeObject(object);
  return DocumentSize::of(encoder, deepest);
}

std::vector<IdeaMergeConflict> DocumentSnapshot::allReplaced() const {
  std::vector<IdeaMergeConflict> all = carried;
  for (const IdeaMergeConflict& change : replaced)
    if (std::find(all.begin(), all.end(), change) == all.end()) all.push_back(change);
  return all;
}

DocumentSnapshot DocumentSnapshot::of(std::shared_ptr<Idea> idea, const QDateTime& created, const QDateTime& modified,
                                      const QString& writerMark) {
  DocumentSnapshot made;
  made.idea = std::move(idea);
  made.dateCreated = created;
  made.dateModified = modified;
  made.writerMark = writerMark.isEmpty() ? Globals::appInstance() : writerMark;
  made.writerInstallation = Globals::appInstallation();
  return made;
}

namespace {

// The measure of `next` written with what a file read names for others, which a document holds
// apart: all of it may be written again.
DocumentSize measureWithFileHeld(DocumentSnapshot next, const std::vector<IdeaMergeConflict>& inFile,
                                 const std::vector<ReplacedTree>& treesInFile) {
  for (const IdeaMergeConflict& change : inFile)
    if (std::find(next.carried.begin(), next.carried.end(), change) == next.carried.end())
      next.carried.push_back(change);
  for (const ReplacedTree& tree : treesInFile) addReplacedTree(next.replacedTrees, tree);
  return next.measure();
}

}  // namespace

DocumentSize IdeaDocument::measureOfNextWrite() const {
  return measureWithFileHeld(snapshotOf(mIdea), mReplacedInFile, mReplacedTreesInFile);
}

DocumentSnapshot IdeaDocument::snapshot() const { return snapshotOf(mIdea ? mIdea->snapshotCopy() : nullptr); }

DocumentSnapshot IdeaDocument::snapshotOf(std::shared_ptr<Idea> tree) const {
  DocumentSnapshot made = DocumentSnapshot::of(std::move(tree), mDateCreated, mDateModified);
  made.baseBytes = mBaseBytes;
  made.baseStamp = mBaseStamp;
  made.replaced = mToAnnounce;
  made.carried = mCarriedInFile;
  made.replacedTrees = mReplacedTrees;
  return made;
}

std::shared_ptr<IdeaDocument> IdeaDocument::fromFileBytes(const QByteArray& bytes, bool compressed,
                                                         DocumentError* error) {
  auto scratch = createWithFileName(QStringLiteral("base.orrx"), DocumentLocationDropbox);
  const bool read = compressed ? scratch->loadFromOrreryData(bytes, error) : scratch->loadFromJSONData(bytes, error);
  return read ? scratch : nullptr;
}

std::shared_ptr<Idea> IdeaDocument::treeFromFileBytes(const QByteArray& bytes, bool compressed) {
  auto doc = fromFileBytes(bytes, compressed);
  return doc ? doc->idea() : nullptr;
}

namespace {

void addOnce(std::vector<IdeaMergeConflict>& list, const IdeaMergeConflict& conflict) {
  if (std::find(list.begin(), list.end(), conflict) == list.end()) list.push_back(conflict);
}

// `trees` and those `held` of the instances `toAnnounce` names.
std::vector<ReplacedTree> treesToAnnounce(std::vector<ReplacedTree> trees, const std::vector<ReplacedTree>& held,
                                          const std::vector<IdeaMergeConflict>& toAnnounce) {
  for (const ReplacedTree& tree : held)
    if (std::any_of(toAnnounce.begin(), toAnnounce.end(), [&](const IdeaMergeConflict& c) { return tree.belongsTo(c); }))
      addReplacedTree(trees, tree);
  return trees;
}

// A write named `announced` (with their `trees`): they are no longer to be told, and the file
// names them until their instances take them, so later saves write them again.
void followNamed(const std::vector<IdeaMergeConflict>& announced, const std::vector<ReplacedTree>& trees,
                 std::vector<IdeaMergeConflict>& toAnnounce, std::vector<IdeaMergeConflict>& carried,
                 std::vector<ReplacedTree>& held) {
  std::erase_if(toAnnounce, [&](const IdeaMergeConflict& c) {
    return std::find(announced.begin(), announced.end(), c) != announced.end();
  });
  carried = announced;
  held = treesToAnnounce(trees, held, toAnnounce);
}

}  // namespace

void DocumentSnapshot::follow(const WrittenFile& file) {
  // The main thread merges the other instance's version into its tree when it hears of it.
  if (file.merged) idea = mergeIdeaTrees(file.written, idea, file.merged).idea;
  baseBytes = file.bytes;
  baseStamp = file.stamp;
  followNamed(file.announced, file.trees, replaced, carried, replacedTrees);
}

void DocumentWriteChain::bringUpToDate(DocumentSnapshot& snapshot, std::uint64_t heardThrough) {
  std::lock_guard lock(mMutex);
  std::erase_if(mUnheard, [&](const WrittenFile& file) { return file.sequence <= heardThrough; });
  for (const WrittenFile& file : mUnheard) snapshot.follow(file);
}

void DocumentWriteChain::add(WrittenFile file) {
  std::lock_guard lock(mMutex);
  mUnheard.push_back(std::move(file));
}

void IdeaDocument::noteWritten(const std::shared_ptr<Idea>& written, const std::shared_ptr<Idea>& merged,
                               const std::vector<IdeaMergeConflict>& conflicts, const QByteArray& bytes,
                               bool compressed, const platform::FileStamp& stamp,
                               const std::vector<IdeaMergeConflict>& announced,
                               const std::vector<ReplacedTree>& trees) {
  // The codec goes with the bytes: a plain JSON file taken for a compressed one no longer
  // looks like this instance's own write when it is read back.
  mBaseBytes = bytes;
  mBaseCompressed = compressed;
  mBaseStamp = stamp;
  followNamed(announced, trees, mToAnnounce, mCarriedInFile, mReplacedTrees);
  if (!merged) return;
  // The file now holds the other instance's changes too; edits made while it was written stay.
  mIdea = mergeIdeaTrees(written, mIdea, merged).idea;
  noteMergeConflicts(conflicts);
}

void IdeaDocument::noteFileRead(const QByteArray& bytes, bool compressed, const platform::FileStamp& stamp) {
  mBaseBytes = bytes;
  mBaseCompressed = compressed;
  mBaseStamp = stamp;
}

void IdeaDocument::takeReadFile(IdeaDocument& read, bool readable) {
  mLastUserFriendlyError = read.mLastUserFriendlyError;
  mLastError = read.mLastError;
  if (!readable) return;
  if (isOpen() && holdsFileOf(read)) {
    mBaseStamp = read.mBaseStamp;
    return;
  }
  takeMapOf(read);
  mAppInstance = read.mAppInstance;
  mAppInstallation = read.mAppInstallation;
  mBaseBytes = read.mBaseBytes;
  mBaseCompressed = read.mBaseCompressed;
  mBaseStamp = read.mBaseStamp;
  mDeletedOutside.clear();
  // Opened anew: what the file addresses to any process of this installation (one that has
  // quit since) is this one's to tell, with the tree that process last wrote.
  takeReplacedEntries(read, [](const IdeaMergeConflict& change) {
    return !change.installation.isEmpty() && change.installation == Globals::appInstallation();
  });
}

void IdeaDocument::takeReplacedEntries(const IdeaDocument& read,
                                       const std::function<bool(const IdeaMergeConflict&)>& addressedHere) {
  mCarriedInFile.clear();
  std::vector<IdeaMergeConflict> stillNamed;
  for (const IdeaMergeConflict& change : read.mReplacedInFile) {
    // Told already: a file written before this instance's next save still names it. An
    // earlier version carries an entry without its value: it is the one told of that value.
    const bool told = std::any_of(mToldHere.begin(), mToldHere.end(), [&](IdeaMergeConflict toldOne) {
      if (change.lostValue.isEmpty()) toldOne.lostValue.clear();
      return toldOne == change;
    });
    if (!told && !addressedHere(change)) {
      addOnce(mCarriedInFile, change);
      continue;
    }
    addOnce(stillNamed, change);
    if (told) continue;
    addOnce(mReplacedHere.changes, change);
    if (mReplacedHere.formerTree) continue;
    for (const ReplacedTree& tree : read.mReplacedTreesInFile)
      if (tree.belongsTo(change) && tree.tree) mReplacedHere.formerTree = tree.tree->snapshotCopy();
  }
  mToldHere = std::move(stillNamed);
  mReplacedTrees = withTreesToAnnounce(read.mReplacedTreesInFile);
}

std::vector<ReplacedTree> IdeaDocument::withTreesToAnnounce(std::vector<ReplacedTree> trees) const {
  return treesToAnnounce(std::move(trees), mReplacedTrees, mToAnnounce);
}

bool IdeaDocument::takeChangedFile(const IdeaDocument& read, bool readable, const platform::FileStamp& stamp) {
  if (!readable) {
    mLastUserFriendlyError = read.mLastUserFriendlyError;
    mLastError = read.mLastError;
    return false;
  }
  // Our own write, or a file put back as it was: the windows keep their tree.
  if (holdsFileOf(read)) {
    mBaseStamp = stamp;
    return false;
  }
  IdeaMergeResult merged = mergeIdeaTrees(treeFromFileBytes(mBaseBytes, mBaseCompressed), mIdea, read.mIdea);
  // Merged deeper than a map holds, the map could not be saved again: ours stays, and our next
  // save, merging once more, says why.
  if (const int deepest = deepestLevel(merged.idea, {}); deepest > DocumentLimits::kMaxDepth) {
    logLine(QStringLiteral("%1: another instance's version merged would be %2 levels deep; not taken")
                .arg(mDocIdentifier)
                .arg(deepest));
    return false;
  }
  // The file's writer replaced changes of ours: what we held until now keeps their values.
  const bool hadFormerTree = static_cast<bool>(mReplacedHere.formerTree);
  const std::size_t held = mReplacedHere.changes.size();
  takeReplacedEntries(read, [](const IdeaMergeConflict& change) { return change.instance == Globals::appInstance(); });
  // Running, this instance still holds its values, unsaved ones too: they are what it keeps.
  if (!hadFormerTree && mReplacedHere.changes.size() > held && mIdea) mReplacedHere.formerTree = mIdea->snapshotCopy();
  // Ours replaced changes of the file's writer: our next save tells it so, with its tree.
  const ReplacedTree writer{read.mAppInstance, read.mAppInstallation, read.mIdea, stamp};
  for (IdeaMergeConflict& conflict : merged.conflicts) {
    conflict = lossOfInstance(std::move(conflict), writer);
    addOnce(mToAnnounce, conflict);
  }
  if (!merged.conflicts.empty()) addReplacedTree(mReplacedTrees, writer);
  if (read.mAppInstance != Globals::appInstance()) {
    mLastOutsideVersion = writer;
    for (const QString& identifier : merged.theirDeletions)
      mDeletedOutside.insert(identifier, {writer.instance, writer.installation, nullptr, stamp});
  }
  mIdea = merged.idea;
  mStoredSize = read.mStoredSize;
  mStoredMeasured = read.mStoredMeasured;
  mBaseBytes = read.mBaseBytes;
  mBaseCompressed = read.mBaseCompressed;
  mBaseStamp = stamp;
  mDateCreated = read.mDateCreated;
  mDateModified = read.mDateModified;
  mAppInstance = read.mAppInstance;
  noteMergeConflicts(merged.conflicts);
  return true;
}

bool IdeaDocument::deferChangeWhileWriting() {
  if (mWritesInFlight.empty()) return false;
  mChangeWhileWriting = true;
  return true;
}

void IdeaDocument::noteMergeConflicts(const std::vector<IdeaMergeConflict>& conflicts) {
  // The same loss may be found twice: when the other's save arrives and again by our save.
  for (const IdeaMergeConflict& conflict : conflicts) addOnce(mMergeConflicts, conflict);
}

void IdeaDocument::noteReplacedOutsideValues(const QString& identifier, const Idea& shown, const Idea& replaced) {
  const IdeaPtr now = mIdea ? mIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
  const ReplacedTree& outside = mLastOutsideVersion;
  const IdeaPtr theirs = outside.tree ? outside.tree->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
  if (!now || !theirs) return;
  for (const QString& what : differingIdeaValues(*now, replaced)) {
    // Another window of this instance may have changed it: that is no other instance's loss.
    if (sameIdeaValue(replaced, shown, what) || !sameIdeaValue(replaced, *theirs, what)) continue;
    addOnce(mToAnnounce, lossOfInstance({identifier, what, {}, {}, ideaValueFingerprint(replaced, what)}, outside));
    addReplacedTree(mReplacedTrees, outside);
  }
}

void IdeaDocument::noteKeptDeletedIdea(const QString& deleted, const Idea& shown, const QString& kept) {
  // Deleted by another window of this instance: nobody else is to hear of it.
  const auto by = mDeletedOutside.constFind(deleted);
  if (by == mDeletedOutside.constEnd()) return;
  const QString what = QStringLiteral("deleted");
  addOnce(mToAnnounce, lossOfInstance({kept, what, {}, {}, ideaValueFingerprint(shown, what)}, *by));
}

IdeaDocument::ReplacedChanges IdeaDocument::takeReplacedChanges() { return std::exchange(mReplacedHere, {}); }

std::vector<IdeaMergeConflict> IdeaDocument::takeMergeConflicts() {
  std::vector<IdeaMergeConflict> conflicts;
  conflicts.swap(mMergeConflicts);
  return conflicts;
}

QByteArray IdeaDocument::exportAsPureJSONData() const {
  // On the calling thread, so the tree itself is encoded: no copy is needed.
  return DocumentSnapshot::of(mIdea, mDateCreated, mDateModified).encode(false);
}

QByteArray IdeaDocument::exportAsOrreryData() const {
  return DocumentSnapshot::of(mIdea, mDateCreated, mDateModified).encode(true);
}

bool IdeaDocument::fail(int code, const char* key, const char* defaultText, DocumentError* error) {
  mLastUserFriendlyError = Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
  mLastError = DocumentError{QString::fromLatin1(kDocumentErrorDomain), code, mLastUserFriendlyError};
  if (error) *error = mLastError;
  return false;
}

bool IdeaDocument::failTooLarge(DocumentError* error, const QString& refusal) {
  fail(kDocumentErrorTooLarge, "DocumentTooLarge:Message", "The document is too large to open", nullptr);
  mLastUserFriendlyError += QStringLiteral(": ") + refusal;
  mLastError.description = mLastUserFriendlyError;
  if (error) *error = mLastError;
  return false;
}

namespace {

// Beyond the memory bound, the stream packs its text more tightly than the writer packs a map.
enum class Inflation { Done, Corrupt, TooLarge, BeyondMemoryBound };

// Inflates a zlib stream into at most `budget` bytes, refusing as soon as the output passes
// it or the memory its reading would take passes `bound`, so that a small file that would
// inflate to gigabytes, or to more ideas than its size can hold, takes little.
// The buffer keeps room beyond the text for the JSON parser's look-ahead.
Inflation inflateWithin(const QByteArray& data, qsizetype budget, DocumentMemoryBound& bound, QByteArray& out) {
  constexpr qsizetype kSlack = 64;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return Inflation::Corrupt;
  qsizetype produced = 0;
  qsizetype consumed = 0;
  // A document compresses 10 to 20 fold. Room for 32 fold costs only address space until it is
  // written, where growing copies all inflated so far (a tenth of an open's time at 100 000
  // ideas); beyond it, double, never past the budget.
  qsizetype capacity = std::clamp<qsizetype>(data.size() * 32, 64 * 1024, budget + 1);
  out.resize(capacity + kSlack);
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (produced == capacity) {
      if (capacity > budget) break;
      capacity = std::min<qsizetype>(capacity * 2, budget + 1);
      out.resize(capacity + kSlack);
    }
    const auto inChunk = static_cast<uInt>(std::min<qsizetype>(data.size() - consumed, 1 << 30));
    const auto outChunk = static_cast<uInt>(std::min<qsizetype>(capacity - produced, 1 << 30));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + consumed));
    zs.avail_in = inChunk;
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = outChunk;
    // With the whole stream in hand, a stream that ends within the room given needs no window.
    rc = inflate(&zs, consumed + inChunk == data.size() ? Z_FINISH : Z_NO_FLUSH);
    consumed += inChunk - zs.avail_in;
    const qsizetype before = produced;
    produced += outChunk - zs.avail_out;
    if (!bound.add(std::string_view(out.constData() + before, size_t(produced - before)))) {
      inflateEnd(&zs);
      out = QByteArray();
      return Inflation::BeyondMemoryBound;
    }
    if (rc == Z_BUF_ERROR && zs.avail_out == 0) rc = Z_OK;  // only the output was full
  }
  inflateEnd(&zs);
  if (produced > budget) {
    out = QByteArray();
    return Inflation::TooLarge;
  }
  if (rc != Z_STREAM_END) {
    out = QByteArray();
    return Inflation::Corrupt;
  }
  out.truncate(produced);
  return Inflation::Done;
}

// A tree deeper than a map holds, however much deeper.
QString depthRefusal() { return DocumentSize{0, 0, 0, DocumentLimits::kMaxDepth + 1}.refusal(); }

// Why `decoder` stopped reading.
QString refusalOf(const JSONDecoder& decoder) {
  switch (decoder.excess()) {
    case JSONDecoder::Excess::Nesting: return depthRefusal();
    case JSONDecoder::Excess::Text: return DocumentSize{0, 0, decoder.excessTextLength(), 0}.refusal();
    case JSONDecoder::Excess::Objects:
    case JSONDecoder::Excess::None: break;
  }
  return DocumentLimits::beyondObjectsRefusal();
}

}  // namespace

bool IdeaDocument::loadFromJSONData(const QByteArray& data, DocumentError* error) {
  try {
    if (data.size() > DocumentLimits::kMaxJSONBytes)
      return failTooLarge(error, DocumentSize{data.size(), 0, 0, 0}.refusal());
    DocumentMemoryBound bound(data.size());
    if (!bound.add(std::string_view(data.constData(), size_t(data.size()))))
      return failTooLarge(error, DocumentLimits::beyondMemoryRefusal(bound.budget(), data.size()));
    return loadFromJSONDataUnguarded(data, error);
  } catch (const std::bad_alloc&) {
    logLine(QStringLiteral("Out of memory reading %1").arg(mDocIdentifier));
    return failTooLarge(error, DocumentLimits::outOfMemoryRefusal());
  }
}

bool IdeaDocument::loadFromJSONDataUnguarded(const QByteArray& data, DocumentError* error) {
  if (data.size() > DocumentLimits::kMaxJSONBytes)
    return failTooLarge(error, DocumentSize{data.size(), 0, 0, 0}.refusal());
  std::shared_ptr<IdeaDocumentDataObject> object;
  qint64 objectsRead = 0;
  qsizetype parsedBytes = 0;
  // Ideas nested too deeply are refused as a map too deep; any other nesting that deep is no map.
  jsontext::NestingCount ideaLevels{{"idea", "ideas", "replacedTrees"}, {"ideas", "replacedTrees"}};
  if (auto decoder = JSONDecoder::createWithData(data, &ideaLevels)) {
    decoder->addAlias("idea", QString::fromLatin1(Idea::kClassName));
    decoder->addAlias("ideas", QString::fromLatin1(Idea::kClassName));
    decoder->addAlias("replacedTrees", QString::fromLatin1(Idea::kClassName));
    decoder->addAlias("iconImage", QStringLiteral("IconImage"));
    decoder->setLimits({DocumentLimits::kMaxObjects, DocumentLimits::kMaxTextLength});
    object = decoder->decodeObjectOfClass<IdeaDocumentDataObject>();
    if (decoder->tooLarge()) return failTooLarge(error, refusalOf(*decoder));
    objectsRead = decoder->objectsMade();
    parsedBytes = decoder->parsedBytes();
  } else if (ideaLevels.tooDeep && ideaLevels.named > DocumentLimits::kMaxDepth) {
    return failTooLarge(error, depthRefusal());
  }
  // A data object without a tree is as unreadable as no data object at all.
  if (!object || object->fileFormatVersion < 1 || !object->idea)
    return fail(kDocumentErrorInvalidFormat, "InvalidDocumentFormat:Message", "Invalid document format", error);
  if (object->fileFormatVersion >= 4)
    return fail(kDocumentErrorNewerVersion, "CannotOpenFuturisticDocument:Message", "Newer Orrery version is needed",
                error);
  // The file may be in another form than the writer's, which may take more: until the map is
  // measured, the most it may take stands for it. Where that passes a limit the map is measured
  // now, as the writer would write it.
  const int deepest = deepestLevel(object->idea, object->replacedTrees);
  DocumentSize stored = DocumentSize::boundOfRead(parsedBytes, objectsRead, deepest);
  const bool measured = !stored.withinLimits() && deepest <= DocumentLimits::kMaxDepth;
  if (measured)
    stored = measureWithFileHeld(DocumentSnapshot::of(object->idea, object->dateCreated, object->dateModified),
                                 object->replacedChanges, object->replacedTrees);
  // What the writer would not write is not read: the map could never be saved.
  if (!stored.withinLimits()) return failTooLarge(error, stored.refusal());
  mDateCreated = object->dateCreated;
  mDateModified = object->dateModified;
  mIdea = object->idea;
  mStoredSize = stored;
  mStoredMeasured = measured;
  mGrowth = DocumentSize();
  mAppInstance = object->appInstance;
  mAppInstallation = object->appInstallation;
  mReplacedInFile = std::move(object->replacedChanges);
  mReplacedTreesInFile = std::move(object->replacedTrees);
  return true;
}

bool IdeaDocument::loadFromOrreryData(const QByteArray& data, DocumentError* error) {
  mLastUserFriendlyError.clear();
  mLastError = DocumentError();
  try {
    return loadFromOrreryDataUnguarded(data, error);
  } catch (const std::bad_alloc&) {
    logLine(QStringLiteral("Out of memory reading %1").arg(mDocIdentifier));
    return failTooLarge(error, DocumentLimits::outOfMemoryRefusal());
  }
}

bool IdeaDocument::loadFromOrreryDataUnguarded(const QByteArray& data, DocumentError* error) {
  // Empty bytes are no stream; they read as an empty (invalid) JSON text.
  QByteArray json;
  DocumentMemoryBound bound(data.size());
  switch (data.isEmpty() ? Inflation::Done : inflateWithin(data, DocumentLimits::kMaxJSONBytes, bound, json)) {
    case Inflation::TooLarge: return failTooLarge(error, DocumentLimits::beyondSizeRefusal());
    case Inflation::BeyondMemoryBound:
      return failTooLarge(error, DocumentLimits::beyondMemoryRefusal(bound.budget(), data.size()));
    case Inflation::Corrupt:
      return fail(kDocumentErrorInvalidFormat, "InvalidOrreryDocument:Message", "Invalid document format", error);
    case Inflation::Done: break;
  }
  return loadFromJSONDataUnguarded(json, error);
}

bool IdeaDocument::loadFromOPMLData(const QByteArray& data, DocumentError* error) {
  mLastUserFriendlyError.clear();
  mLastError = DocumentError();
  IdeaPtr root;
  try {
    OPMLParser parser;
    // A root the outline does not name is named after the file, as the user knows it.
    root = parser.parseIdeaFromOPMLData(data, QFileInfo(mFilePath).completeBaseName());
    if (parser.tooLarge()) return failTooLarge(error, DocumentLimits::beyondObjectsRefusal());
    // An outline the program could not write as a map is refused as such a map would be.
    QString refusal;
    if (parser.tooDeep()) {
      refusal = depthRefusal();
    } else if (root) {
      IdeaDocumentDataObject object;
      object.fileFormatVersion = IdeaDocumentDataObject::kCurrentFileFormatVersion;
      object.idea = root;
      JSONEncoder encoder;
      encoder.encodeObject(object);
      // Within the limits the writer writes any map: their measure decides.
      refusal = DocumentSize::of(encoder, DocumentSize::levelsOf(*root, 1).deepest).refusal();
    }
    if (!refusal.isEmpty()) return failTooLarge(error, refusal);
  } catch (const std::bad_alloc&) {
    logLine(QStringLiteral("Out of memory reading %1").arg(mDocIdentifier));
    return failTooLarge(error, DocumentLimits::outOfMemoryRefusal());
  }
  if (!root)
    return fail(kDocumentErrorInvalidFormat, "InvalidOPMLDocument:Message", "Failed to read this OPML document", error);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  mDateCreated = now;
  mDateModified = now;
  mIdea = root;
  return true;
}

QString IdeaDocument::exportFileName() const {
  if (mLocation == DocumentLocationLocalFile) return localFileName();
  return mIdea ? mIdea->exportFileNameForType(QStringLiteral("orrery")) : QString();
}

QString IdeaDocument::documentWindowName() const {
  if (mLocation == DocumentLocationTemp) return QStringLiteral("untitled.orrery");
  if (mLocation == DocumentLocationLocalFile) return localFileName();
  return mIdea ? mIdea->exportFileNameForType(QString()) : QString();
}

QString IdeaDocument::ideaDescription() const { return mIdea ? mIdea->description() : QStringLiteral("(null)"); }

}  // namespace orrery
