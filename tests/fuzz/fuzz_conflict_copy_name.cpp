// File names a sync tool may leave in the container: what a conflict copy's name says it
// belongs to stays a plain name of the same extension, shorter than the copy's.
#include "platform/cloud/conflict_copy_name.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "conflict copy name: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString name = QFile::decodeName(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  const platform::ConflictCopyName copy = platform::parseConflictCopyName(name);
  if (!copy.isCopy()) {
    if (!copy.mark.isEmpty()) fail("a mark without an original");
    return 0;
  }
  if (copy.original.size() >= name.size()) fail("the original is no shorter than its copy");
  if (copy.original.contains(QLatin1Char('/')) || copy.original.startsWith(QLatin1Char('.')))
    fail("the original is no plain name");
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || !copy.original.endsWith(name.mid(dot))) fail("the original lost the extension");
  return 0;
}
