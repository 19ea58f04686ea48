// The sync-state file "orrery.local.status" is read back from disk at every start; a damaged
// or hostile file must give a record or none, never a crash.

#include "cloud/dropbox_folder_manager_state.h"

#include "foundation/logging.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    orrery::setLogSink([](const QString&) {});
    return true;
  }();
  (void)quiet;
  const auto state = orrery::DropboxFolderManagerState::readFromData(
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  // What was read must write and read back.
  if (state) {
    const QByteArray again = state->exportAsData();
    if (!again.isEmpty()) orrery::DropboxFolderManagerState::readFromData(again);
  }
  return 0;
}
