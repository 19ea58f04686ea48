// The sync-state file "orrery.local.status" is read back from disk at every start; a damaged
// or hostile file gives a record or none, never a crash, and a record read writes and reads
// back the same.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

#include "cloud/dropbox_folder_manager_state.h"
#include "foundation/logging.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <cstddef>
#include <cstdint>

namespace {

// The saved record with its document entries in key order (a map's order is its own).
QJsonObject canonical(const QByteArray& saved) {
  QJsonObject record = QJsonDocument::fromJson(saved).object().value("dropboxFolderManagerState").toObject();
  QJsonArray entries = record.value("documents").toArray();
  std::vector<QJsonValue> sorted(entries.begin(), entries.end());
  std::sort(sorted.begin(), sorted.end(), [](const QJsonValue& a, const QJsonValue& b) {
    return a.toObject().value("key").toString() < b.toObject().value("key").toString();
  });
  QJsonArray ordered;
  for (const QJsonValue& entry : sorted) ordered.append(entry);
  if (!ordered.isEmpty()) record.insert("documents", ordered);
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    orrery::setLogSink([](const QString&) {});
    return true;
  }();
  (void)quiet;
  const auto state = orrery::DropboxFolderManagerState::readFromData(
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (!state) return 0;
  const QByteArray saved = state->exportAsData();
  if (saved.isEmpty()) fuzzsupport::fail("a sync state read saves nothing");
  const auto again = orrery::DropboxFolderManagerState::readFromData(saved);
  if (!again) fuzzsupport::fail("a saved sync state does not read back");
  if (again->docs().size() > state->docs().size()) fuzzsupport::fail("the sync state read back gained entries");
  if (canonical(again->exportAsData()) != canonical(saved))
    fuzzsupport::fail("the sync state read back saves differently");
  return 0;
}
