#include "sdk/identity/tel_application_identifer_model.h"

#include "sdk/identity/application_identity.h"
#include "sdk/identity/encoding.h"

namespace telemetry {

std::shared_ptr<TELApplicationIdentiferModel> TELApplicationIdentiferModel::create(const std::string& installID,
                                                                                   IconSource iconSource) {
  return build(std::nullopt, installID, iconSource);
}

std::shared_ptr<TELApplicationIdentiferModel> TELApplicationIdentiferModel::createForExecutable(
    const std::string& executablePath, const std::string& installID, IconSource iconSource) {
  return build(executablePath, installID, iconSource);
}

std::shared_ptr<TELApplicationIdentiferModel> TELApplicationIdentiferModel::build(std::optional<std::string> path,
                                                                                  const std::string& installID,
                                                                                  const IconSource& iconSource) {
  std::shared_ptr<TELApplicationIdentiferModel> model(new TELApplicationIdentiferModel(std::move(path)));
  if (!model->computeExecutableInfo()) return nullptr;
  model->computeInstanceIdentifier();
  if (iconSource) model->mIcon = iconSource();
  model->mInstallID = installID;
  model->mBundleIdentifier = TELApplicationEscapedBundleIdentifier();
  return model;
}

bool TELApplicationIdentiferModel::computeExecutableInfo() {
  TELMachOFile file;
  const bool opened = mExecutablePath ? TELMachOOpenFile(&file, mExecutablePath->c_str()) : TELMachOOpenExecutable(&file);
  if (!opened) return false;
  std::map<std::string, std::string> map;
  TELMachOEnumerateSlicesOfFile(&file, [&](const CRKMachOSlice& found) {
    CRKMachOSlice slice = found;
    const std::string architecture = TELMachOArchitectureName(&slice);
    TELMachOEnumerateLoadCommands(&slice, [&](uint32_t command, uint32_t, const uint8_t* pointer) {
      if (command == kLoadCommandUUID) {
        if (const uint8_t* uuid = TELMachOGetUUID(pointer)) map[architecture] = TELHexStringFromUUIDBytes(uuid);
      } else if (command == kLoadCommandVersionMinMacOSX || command == kLoadCommandVersionMinIPhoneOS) {
        mMinimumSDK = TELMachOGetMinimumOSVersion(pointer);
        mBuiltSDK = TELMachOGetSDKVersion(pointer);
      }
    });
  });
  TELMachOCloseFile(&file);
  mArchitectureUUIDMap = std::move(map);
  return true;
}

bool TELApplicationIdentiferModel::computeInstanceIdentifier() {
  std::string joined;
  for (const auto& [architecture, uuid] : mArchitectureUUIDMap) joined += uuid;  // ascending names
  mInstanceIdentifier = TELSHA1HexStringFromData(joined);
  return true;
}

std::string TELApplicationIdentiferModel::builtSDKString() const { return *TELMachOFormatVersion(&mBuiltSDK); }

std::string TELApplicationIdentiferModel::minimumSDKString() const { return *TELMachOFormatVersion(&mMinimumSDK); }

}  // namespace telemetry
