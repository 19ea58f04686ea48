// A status file read back at start goes through the start-up rules: the records that survive,
// the mirror files kept, and each record's resolution, without harm and without keeping a
// file that is not a plain name in the mirror folder; the engine's lists of files let go of or
// set aside read as names at most.

#include <cstdio>
#include <cstdlib>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_folder_manager_state.h"
#include "cloud/dropbox_sync_rules.h"
#include "cloud/mirror_maps.h"
#include "foundation/logging.h"
#include "fuzz/fuzz_qt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    orrery::setLogSink([](const QString&) {});
    return true;
  }();
  (void)quiet;
  namespace rules = orrery::dropboxrules;
  const auto state = orrery::DropboxFolderManagerState::readFromData(
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (!state) return 0;
  const auto kept = rules::filterOutDeletedDocuments(state->docs());
  QSet<QString> names;
  for (const auto& record : kept) {
    if (rules::isDeletedRecord(record)) std::abort();
    if (!rules::hasOnlyPlainNames(record)) continue;  // dropped at start
    for (const auto* info : {&record->input(), &record->current(), &record->output()})
      if (orrery::SyncFileInfo::hasFile(*info)) names.insert((*info)->name());
    rules::resolveLoadAndNotifyState(record, [] { return QStringLiteral("id1_1.orrx"); });
    rules::localRevFromDocumentInfo(record);
  }
  rules::resolveIndexDocumentState(state->indexDocumentInfo());
  for (const QString& name : names) orrery::DropboxFolderManager::shouldFileBeKept(name, {}, names);
  // The files it lets go of or sets aside are only ever matched against a folder's own entries;
  // their save numbers order saves and are never negative for a made name.
  for (const QStringList* list : {&state->letGo(), &state->setAside()})
    for (const QString& name : *list)
      if (orrery::saveNumberOf(name) >= 0 && !rules::isPlainMirrorName(name)) std::abort();
  return 0;
}
