// The document file: a zlib stream of the document's JSON.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto doc = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/fuzz.orrery"));
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (doc->loadFromOrreryData(bytes)) fuzzsupport::checkDocumentRoundTrip(*doc);
  return 0;
}
