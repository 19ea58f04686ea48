// The document reader against the one of earlier versions (kept with the tests): on any bytes
// both accept or both refuse, with the same error; what the reader accepts saves and reads
// back the same (the shared document check).
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"
#include "model/support/legacy_json_coder.h"

#include "foundation/logging.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    orrery::setLogSink([](const QString&) {});
    return true;
  }();
  (void)quiet;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  auto doc = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/reader.orrx"));
  orrery::DocumentError error;
  const bool read = doc->loadFromJSONData(bytes, &error);
  const int before = orrery::legacy::documentReadingCode(bytes);
  // The one known difference: a number that underflows a double to zero ("4e-400") was refused
  // by the earlier parser and reads as 0 now.
  static const QRegularExpression underflow(QStringLiteral("[0-9.][eE]-0*[0-9]{3}"));
  const bool comparable = !QString::fromLatin1(bytes).contains(underflow);
  if (comparable && (read ? 0 : error.code) != before) {
    std::fprintf(stderr, "the readers disagree: now %d, before %d\n", read ? 0 : error.code, before);
    std::abort();
  }
  if (read) fuzzsupport::checkDocumentRoundTrip(*doc);
  return 0;
}
