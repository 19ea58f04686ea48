// OPML import: a tree read from OPML saves as a document, and as OPML that reads back the same.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

#include "model/opml_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto doc = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/fuzz.orrery"));
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (!doc->loadFromOPMLData(bytes)) return 0;
  fuzzsupport::checkDocumentRoundTrip(*doc);

  const QString opml = orrery::OPMLWriter::ideaAsOPML(*doc->idea());
  auto again = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/fuzz-again.orrery"));
  if (!again->loadFromOPMLData(opml.toUtf8())) fuzzsupport::fail("written OPML does not read back");
  if (orrery::OPMLWriter::ideaAsOPML(*again->idea()) != opml) fuzzsupport::fail("OPML read back writes differently");
  return 0;
}
