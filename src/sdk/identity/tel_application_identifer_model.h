#pragma once
// The application's identity for the settings request and onboarding: the slices of its
// executable (architecture name -> UUID), the SDK versions it was built with and for, the
// installation identifier, the icon, the escaped bundle identifier, and the build instance
// identifier (SHA-1 of the slices' UUIDs), which changes whenever the executable is rebuilt.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/binary/mach_o_reader.h"

namespace telemetry {

class TELIcon;  // the application icon, defined with onboarding

class TELApplicationIdentiferModel {
 public:
  using IconSource = std::function<std::shared_ptr<TELIcon>()>;

  // The running executable's identity, or nothing when its file cannot be read. The icon
  // source (may be empty) is asked once, when the icon is first wanted (by the onboarding, on
  // the SDK's own queues), so reading the icon's file is not part of the SDK's start.
  static std::shared_ptr<TELApplicationIdentiferModel> create(const std::string& installID, IconSource iconSource = {});
  // The same for another executable file.
  static std::shared_ptr<TELApplicationIdentiferModel> createForExecutable(const std::string& executablePath,
                                                                          const std::string& installID,
                                                                          IconSource iconSource = {});

  const std::map<std::string, std::string>& architectureUUIDMap() const { return mArchitectureUUIDMap; }
  const std::string& installID() const { return mInstallID; }
  std::shared_ptr<TELIcon> icon() const;
  const std::optional<std::string>& bundleIdentifier() const { return mBundleIdentifier; }
  const std::string& instanceIdentifier() const { return mInstanceIdentifier; }
  const TELMachOVersion& builtSDK() const { return mBuiltSDK; }
  const TELMachOVersion& minimumSDK() const { return mMinimumSDK; }
  std::string builtSDKString() const;
  std::string minimumSDKString() const;

  // Fills the map and both versions from the executable; false when it cannot be opened.
  bool computeExecutableInfo();
  // Fills the instance identifier from the map; always true.
  bool computeInstanceIdentifier();

 private:
  explicit TELApplicationIdentiferModel(std::optional<std::string> executablePath)
      : mExecutablePath(std::move(executablePath)) {}
  static std::shared_ptr<TELApplicationIdentiferModel> build(std::optional<std::string> path, const std::string& installID,
                                                             const IconSource& iconSource);

  std::optional<std::string> mExecutablePath;  // none: the running executable
  std::map<std::string, std::string> mArchitectureUUIDMap;
  std::string mInstallID;
  IconSource mIconSource;
  mutable std::once_flag mIconAsked;
  mutable std::shared_ptr<TELIcon> mIcon;
  std::optional<std::string> mBundleIdentifier;
  std::string mInstanceIdentifier;
  TELMachOVersion mBuiltSDK;
  TELMachOVersion mMinimumSDK;
};

}  // namespace telemetry
