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
  return object;
}

void IdeaDocumentDataObject::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeInt(static_cast<std::int32_t>(fileFormatVersion), "fileFormatVersion");
  coder.encodeObject(idea, "idea");
  coder.encodeDate(dateCreated, "dateCreated");
  coder.encodeDate(dateModified, "dateModified");
  coder.encodeString(writerMark.isEmpty() ? Globals::appInstance() : writerMark, "appInstance");
}

}  // namespace orrery
