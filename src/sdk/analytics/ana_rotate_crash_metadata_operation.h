#pragma once
// Once per analytics start: takes the previous run's metadata from the file "crash_metadata"
// and puts this run's in its place. The file is replaced atomically, so it always holds one
// run's whole metadata; if it cannot be replaced it is removed, so it never describes a run
// twice.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "sdk/analytics/ana_crash_metadata.h"
#include "sdk/analytics/ana_metadata.h"
#include "sdk/core/operation.h"

namespace telemetry {

class ANARotateCrashMetadataOperation final : public Operation {
 public:
  ANARotateCrashMetadataOperation(std::string crashMetadataURL,
                                  std::shared_ptr<const ANAMetadataSerializable> currentMetadata);

  void main() override;

  // After main(): the previous run's metadata, never null (no dictionary when the file did
  // not hold one, an empty one on a first run).
  const std::shared_ptr<ANACrashMetadata>& crashMetadata() const { return mCrashMetadata; }
  // This run's dictionary, with the operation's creation time as start time.
  const std::optional<nlohmann::ordered_json>& currentMetadataDictionary() const { return mCurrentMetadataDictionary; }
  const std::string& crashMetadataURL() const { return mCrashMetadataURL; }

 private:
  const std::string mCrashMetadataURL;
  const std::shared_ptr<const ANAMetadataSerializable> mCurrentMetadata;
  const std::optional<nlohmann::ordered_json> mCurrentMetadataDictionary;
  std::shared_ptr<ANACrashMetadata> mCrashMetadata;
};

}  // namespace telemetry
