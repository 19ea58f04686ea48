#include "sdk/analytics/ana_rotate_crash_metadata_operation.h"

#include <unistd.h>

#include <chrono>

#include "sdk/analytics/ana_event.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/core/file_io.h"

namespace telemetry {

namespace {
std::optional<nlohmann::ordered_json> dictionaryNow(const std::shared_ptr<const ANAMetadataSerializable>& metadata) {
  if (!metadata) return std::nullopt;
  return metadata->dictionaryRepresentationWithStartTime(ANASecondsSince1970(std::chrono::system_clock::now()));
}
}  // namespace

ANARotateCrashMetadataOperation::ANARotateCrashMetadataOperation(
    std::string crashMetadataURL, std::shared_ptr<const ANAMetadataSerializable> currentMetadata)
    : mCrashMetadataURL(std::move(crashMetadataURL)),
      mCurrentMetadata(std::move(currentMetadata)),
      mCurrentMetadataDictionary(dictionaryNow(mCurrentMetadata)) {}

void ANARotateCrashMetadataOperation::main() {
  const bool existed = fileio::kindOf(mCrashMetadataURL) != fileio::FileKind::Missing;
  mCrashMetadata = std::make_shared<ANACrashMetadata>(
      existed ? ANACrashMetadata::readSerializedDictionaryFromURL(mCrashMetadataURL)
              : std::optional<nlohmann::ordered_json>(nlohmann::ordered_json::object()));
  bool written = mCurrentMetadataDictionary &&
                 ANACrashMetadata::writeSerializedDictionary(*mCurrentMetadataDictionary, mCrashMetadataURL);
  if (!written && existed) {
    ANALogger::sharedLogger().log("Failed to replace the crash metadata at %s", mCrashMetadataURL.c_str());
    ::unlink(mCrashMetadataURL.c_str());
  }
}

}  // namespace telemetry
