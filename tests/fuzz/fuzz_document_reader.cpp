// Document files come from disk, other instances and cloud folders: whatever their bytes, the
// reader gives a tree or a refusal, never a crash, and a tree it gives writes and reads back
// as the same tree. The first byte picks the form: odd for a zlib stream, even for plain JSON.

#include "model/idea.h"
#include "model/idea_document.h"

#include "foundation/logging.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    orrery::setLogSink([](const QString&) {});
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  const bool compressed = data[0] & 1;
  const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  auto doc = orrery::IdeaDocument::createWithFileName("fuzz.orrx", orrery::DocumentLocationDropbox);
  const bool read = compressed ? doc->loadFromOrreryData(bytes) : doc->loadFromJSONData(bytes);
  if (!read) return 0;
  const QByteArray again = doc->exportAsPureJSONData();
  const QString before = doc->idea()->debugDescription();
  auto back = orrery::IdeaDocument::createWithFileName("back.orrx", orrery::DocumentLocationDropbox);
  if (!back->loadFromJSONData(again) || back->idea()->debugDescription() != before) std::abort();
  return 0;
}
