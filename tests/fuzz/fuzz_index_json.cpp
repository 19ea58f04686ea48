// The JSON index of a Dropbox folder: what loads saves, and the saved index reads back the same.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

#include "model/index_json_document.h"

#include "platform/core/dispatch.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  orrery::ProxyList list;
  if (!orrery::IndexJSONDocument::decodeFromJSON(bytes, list, nullptr)) return 0;

  // Nothing is read or written here, so no work ever reaches the queue.
  auto index = orrery::IndexJSONDocument::createWithFileURL(QUrl::fromLocalFile(QStringLiteral("/nonexistent/index.json")),
                                                            platform::mainQueue());
  index->setIdeaProxyList(list);
  const QByteArray saved = index->contentsAsJSONData();
  orrery::ProxyList again;
  if (!orrery::IndexJSONDocument::decodeFromJSON(saved, again, nullptr)) fuzzsupport::fail("a saved JSON index does not read back");
  if (again.size() != list.size()) fuzzsupport::fail("the JSON index read back lost entries");
  index->setIdeaProxyList(again);
  if (index->contentsAsJSONData() != saved) fuzzsupport::fail("the JSON index read back saves differently");
  return 0;
}
