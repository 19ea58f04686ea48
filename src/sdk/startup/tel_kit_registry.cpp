#include "sdk/startup/tel_kit_registry.h"

#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/startup/tel_exception.h"

#include <algorithm>

namespace telemetry {

namespace {

bool contains(const TELKitClassList& list, const TELKitClass* kitClass) {
  return std::find(list.begin(), list.end(), kitClass) != list.end();
}

}  // namespace

TELKitClassList TELKitRegistry::convertToKitClassesIfNeeded(const std::vector<TELKitArgument>& kits) {
  TELKitClassList classes;
  classes.reserve(kits.size());
  for (const auto& kit : kits) classes.push_back(&kit.kitClass());
  return classes;
}

void TELKitRegistry::validateTELKitConformance(const TELKitClassList& kitClasses) {
  for (const TELKitClass* kitClass : kitClasses) {
    if (kitClass->conformsToTELKit()) continue;
    if (TELLegacyKitInstance* instance = kitClass->sharedInstance()) {
      consoleLog(strformat("[%s] Please upgrade to the latest version of \"%s\"", kHostKitClassName,
                           kitClass->className().c_str()));
      if (instance->respondsToStart() && instance->respondsToBundleIdentifier() && instance->respondsToVersion())
        continue;
    }
    throw TELException(strformat(
        "[%s] It appears that \"%s\" is not a valid Telemetry Kit. Please make sure you only pass Telemetry Kits to "
        "[Telemetry with:].",
        kHostKitClassName, kitClass->className().c_str()));
  }
}

TELKitClassList TELKitRegistry::kitClassesByAddingLegacyKitIfFound(TELKitClassList kitClasses) {
  const TELKitClass* legacy = TELKitClass::classNamed("LegacyKit");
  if (legacy && !contains(kitClasses, legacy)) kitClasses.push_back(legacy);
  return kitClasses;
}

TELKitClassList TELKitRegistry::kitClassesByAddingAnalyticsIfFound(TELKitClassList kitClasses) {
  const TELKitClass* crashKit = TELKitClass::classNamed("CrashKit");
  const TELKitClass* analytics = TELKitClass::classNamed("Analytics");
  if (crashKit && analytics && contains(kitClasses, crashKit) && analytics->conformsToTELKit() &&
      !contains(kitClasses, analytics))
    kitClasses.push_back(analytics);
  return kitClasses;
}

TELKitClassList TELKitRegistry::kitClassesByEnsuringRecorderKitIsFirst(TELKitClassList kitClasses) {
  const TELKitClass* recorder = TELKitClass::classNamed("RecorderKit");
  auto it = std::find(kitClasses.begin(), kitClasses.end(), recorder);
  if (recorder && it != kitClasses.end()) std::rotate(kitClasses.begin(), it, std::next(it));
  return kitClasses;
}

TELKitClassList TELKitRegistry::orderedKitClasses(const std::vector<TELKitArgument>& kits) {
  TELKitClassList classes = convertToKitClassesIfNeeded(kits);
  validateTELKitConformance(classes);
  classes = kitClassesByAddingLegacyKitIfFound(std::move(classes));
  classes = kitClassesByAddingAnalyticsIfFound(std::move(classes));
  return kitClassesByEnsuringRecorderKitIsFirst(std::move(classes));
}

void TELKitRegistry::initializeKit(const TELKitClass& kitClass) {
  if (kitClass.conformsToTELKit()) {
    if (kitClass.respondsToInitializeIfNeeded()) kitClass.initializeIfNeeded();
    return;
  }
  if (TELLegacyKitInstance* instance = kitClass.sharedInstance()) instance->start();
}

TELKitRegistry::KitVersions TELKitRegistry::kitVersionsByKitBundleIdentifier(const TELKitClassList& kitClasses) {
  KitVersions versions;
  for (const TELKitClass* kitClass : kitClasses) {
    if (kitClass->conformsToTELKit()) {
      versions[kitClass->bundleIdentifier()] = kitClass->kitDisplayVersion();
    } else if (TELLegacyKitInstance* instance = kitClass->sharedInstance()) {
      versions[instance->bundleIdentifier()] = instance->version();
    }
  }
  versions[kHostKitIdentifier] = kHostKitDisplayVersion;
  if (isDebugEnabled()) {
    std::string listed;
    for (const auto& [identifier, version] : versions) listed += (listed.empty() ? "" : ", ") + identifier + " = " + version;
    debugLog("[Telemetry] Initialized with kit versions: {" + listed + "}");
  }
  return versions;
}

}  // namespace telemetry
