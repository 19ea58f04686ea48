// The document file format of IdeaDocument, and the names derived from its root idea.

#include "model/idea_document.h"

#include "model/idea.h"
#include "model/idea_document_data_object.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"
#include "model/opml_parser.h"

#include "foundation/data_extensions.h"
#include "foundation/globals.h"

namespace orrery {

QByteArray DocumentSnapshot::encode(bool compressed) const {
  // A file without a tree is refused on reading; writing one would lose the map unseen.
  if (!idea) return {};
  IdeaDocumentDataObject object;
  object.fileFormatVersion = IdeaDocumentDataObject::kCurrentFileFormatVersion;
  object.dateModified = dateModified.isValid() ? dateModified : QDateTime::currentDateTimeUtc();
  object.dateCreated = dateCreated.isValid() ? dateCreated : dateModified;
  object.idea = idea;
  object.writerMark = writerMark;
  JSONEncoder encoder;
  encoder.encodeObject(object);
  const QByteArray json = encoder.data();
  if (!compressed || json.isEmpty()) return json;
  return dataext::zlibDeflate(json).value_or(QByteArray());
}

DocumentSnapshot IdeaDocument::snapshot() const {
  return DocumentSnapshot{mIdea ? mIdea->snapshotCopy() : nullptr, mDateCreated, mDateModified,
                          Globals::appInstance()};
}

QByteArray IdeaDocument::exportAsPureJSONData() const {
  // On the calling thread, so the tree itself is encoded: no copy is needed.
  return DocumentSnapshot{mIdea, mDateCreated, mDateModified, Globals::appInstance()}.encode(false);
}

QByteArray IdeaDocument::exportAsOrreryData() const {
  return DocumentSnapshot{mIdea, mDateCreated, mDateModified, Globals::appInstance()}.encode(true);
}

bool IdeaDocument::fail(int code, const char* key, const char* defaultText, DocumentError* error) {
  mLastUserFriendlyError = Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
  if (error) *error = DocumentError{QString::fromLatin1(kDocumentErrorDomain), code, mLastUserFriendlyError};
  return false;
}

bool IdeaDocument::loadFromJSONData(const QByteArray& data, DocumentError* error) {
  std::shared_ptr<IdeaDocumentDataObject> object;
  if (auto decoder = JSONDecoder::createWithData(data)) {
    decoder->addAlias("idea", QString::fromLatin1(Idea::kClassName));
    decoder->addAlias("ideas", QString::fromLatin1(Idea::kClassName));
    decoder->addAlias("iconImage", QStringLiteral("IconImage"));
    object = decoder->decodeObjectOfClass<IdeaDocumentDataObject>();
  }
  // A data object without a tree is as unreadable as no data object at all.
  if (!object || object->fileFormatVersion < 1 || !object->idea)
    return fail(kDocumentErrorInvalidFormat, "InvalidDocumentFormat:Message", "Invalid document format", error);
  if (object->fileFormatVersion >= 4)
    return fail(kDocumentErrorNewerVersion, "CannotOpenFuturisticDocument:Message", "Newer Orrery version is needed",
                error);
  mDateCreated = object->dateCreated;
  mDateModified = object->dateModified;
  mIdea = object->idea;
  mAppInstance = object->appInstance;
  return true;
}

bool IdeaDocument::loadFromOrreryData(const QByteArray& data, DocumentError* error) {
  mLastUserFriendlyError.clear();
  const auto json = dataext::zlibInflate(data);
  if (!json) return fail(kDocumentErrorInvalidFormat, "InvalidOrreryDocument:Message", "Invalid document format", error);
  return loadFromJSONData(*json, error);
}

bool IdeaDocument::loadFromOPMLData(const QByteArray& data, DocumentError* error) {
  mLastUserFriendlyError.clear();
  IdeaPtr root = OPMLParser().parseIdeaFromOPMLData(data);
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
