#include "cloud/map_entry.h"

#include "cloud/dropbox_folder_manager_state.h"

#include <mutex>

namespace orrery {

namespace {
constexpr char kKeyKey[] = "key";
constexpr char kValKey[] = "val";
}  // namespace

std::shared_ptr<KeyedCodable> MapEntry::createWithCoder(KeyedDecoder& coder) {
  return std::make_shared<MapEntry>(coder.decodeStringForKey(kKeyKey),
                                    coder.decodeObjectOfClassForKey<DocumentInfo>(kValKey));
}

void MapEntry::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(mKey, kKeyKey);
  coder.encodeObject(mVal, kValKey);
}

void registerSyncCodedClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    KeyedClassRegistry::add<SyncFileInfo>();
    KeyedClassRegistry::add<DocumentInfo>();
    KeyedClassRegistry::add<MapEntry>();
    KeyedClassRegistry::add<DropboxFolderManagerState>();
  });
}

}  // namespace orrery
