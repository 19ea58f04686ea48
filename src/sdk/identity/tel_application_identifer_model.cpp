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
  model->mIconSource = iconSource;
  model->mInstallID = installID;
  model->mBundleIdentifier = TELApplicationEscapedBundleIdentifier();
  return model;
}

std::shared_ptr<TELIcon> TELApplicationIdentiferModel::icon() const {
  std::call_once(mIconAsked, [this] {
    if (mIconSource) mIcon = mIconSource();
  });
  return mIcon;
}

bool TELApplicationIdentiferModel::computeExecutableInfo() {
  ExecutableFile file;
  const bool opened = mExecutablePath ? openExecutableFile(&file, mExecutablePath->c_str()) : openRunningExecutable(&file);
  if (!opened) return false;
  std::map<std::string, std::string> map;
  enumerateExecutableImages(file, [&](const ExecutableImageFacts& image) {
    if (image.uuid) map[image.architecture] = TELHexStringFromUUIDBytes(image.uuid->data());
    if (image.minimumOS) mMinimumSDK = *image.minimumOS;
    if (image.builtSDK) mBuiltSDK = *image.builtSDK;
  });
  closeExecutableFile(&file);
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
