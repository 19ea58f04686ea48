// The document's JSON as the keyed decoder reads it (also the plain ".orrx" file format).
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto doc = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/fuzz.orrx"));
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (doc->loadFromJSONData(bytes)) fuzzsupport::checkDocumentRoundTrip(*doc);
  return 0;
}
