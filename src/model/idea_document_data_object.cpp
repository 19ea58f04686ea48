#include "model/idea_document_data_object.h"

#include "foundation/globals.h"

namespace orrery {

namespace {
const bool registered = KeyedClassRegistry::add<IdeaDocumentDataObject>();
}  // namespace

std::shared_ptr<IdeaDocumentDataObject> IdeaDocumentDataObject::createWithCoder(KeyedDecoder& coder) {
  (void)registered;
  auto object = std::make_shared<IdeaDocumentDataObject>();
  object->fileFormatVersion = coder.decodeIntForKey("fileFormatVersion");
  object->idea = coder.decodeObjectOfClassForKey<Idea>("idea");
  object->dateCreated = coder.decodeDateForKey("dateCreated");
  object->dateModified = coder.decodeDateForKey("dateModified");
  if (coder.containsValueForKey("appInstance")) object->appInstance = coder.decodeStringForKey("appInstance");
  if (coder.containsValueForKey("replacedChanges")) {
    for (const QString& entry : coder.decodeStringsForKey("replacedChanges")) {
      // The identifier is whatever lies between the first and the last tab.
      const qsizetype first = entry.indexOf(QLatin1Char('\t')), last = entry.lastIndexOf(QLatin1Char('\t'));
      if (first <= 0 || last <= first) continue;
      object->replacedChanges.push_back(
          {entry.mid(first + 1, last - first - 1), entry.mid(last + 1), entry.left(first)});
    }
  }
  return object;
}

void IdeaDocumentDataObject::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeInt(static_cast<std::int32_t>(fileFormatVersion), "fileFormatVersion");
  coder.encodeObject(idea, "idea");
  coder.encodeDate(dateCreated, "dateCreated");
  coder.encodeDate(dateModified, "dateModified");
  coder.encodeString(writerMark.isEmpty() ? Globals::appInstance() : writerMark, "appInstance");
  if (replacedChanges.empty()) return;
  QStringList entries;
  for (const IdeaMergeConflict& change : replacedChanges)
    entries << change.instance + QLatin1Char('\t') + change.identifier + QLatin1Char('\t') + change.what;
  coder.encodeStrings(entries, "replacedChanges");
}

}  // namespace orrery
