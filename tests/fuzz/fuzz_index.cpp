// The keyed index "orrery.index" (CBOR): what loads saves, and the saved index reads back the same.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

#include "model/index_document.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QUrl url = QUrl::fromLocalFile(fuzzsupport::scratchFolder().filePath(QStringLiteral("orrery.index")));
  orrery::IndexDocument index(url);
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (!index.loadFromContents(bytes, nullptr, /*onlyIfChanged=*/false)) return 0;

  const QByteArray saved = index.contentsAsBinaryData();
  orrery::IndexDocument again(url);
  if (!again.loadFromContents(saved, nullptr, /*onlyIfChanged=*/false)) fuzzsupport::fail("a saved index does not read back");
  if (again.ideaProxyList().size() != index.ideaProxyList().size()) fuzzsupport::fail("the index read back lost entries");
  if (again.contentsAsBinaryData() != saved) fuzzsupport::fail("the index read back saves differently");
  return 0;
}
