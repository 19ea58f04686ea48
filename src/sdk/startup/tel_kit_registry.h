#pragma once
// Puts the kits handed to Telemetry::with into their start order, checks that each one is a
// kit, starts them and reports their versions.

#include "sdk/startup/tel_kit.h"

#include <map>
#include <string>
#include <vector>

namespace telemetry {

class TELKitRegistry {
 public:
  using KitVersions = std::map<std::string, std::string>;

  // The class of each element, in order.
  static TELKitClassList convertToKitClassesIfNeeded(const std::vector<TELKitArgument>& kits);
  // Raises TELException for a class that is neither a TELKit nor an acceptable older kit.
  static void validateTELKitConformance(const TELKitClassList& kitClasses);
  static TELKitClassList kitClassesByAddingLegacyKitIfFound(TELKitClassList kitClasses);
  // With CrashKit in the list, Analytics joins it once (at the end) when it exists.
  static TELKitClassList kitClassesByAddingAnalyticsIfFound(TELKitClassList kitClasses);
  static TELKitClassList kitClassesByEnsuringRecorderKitIsFirst(TELKitClassList kitClasses);
  // The three steps above, after validation.
  static TELKitClassList orderedKitClasses(const std::vector<TELKitArgument>& kits);

  static void initializeKit(const TELKitClass& kitClass);
  // Kit bundle identifier -> version, the host kit's own last.
  static KitVersions kitVersionsByKitBundleIdentifier(const TELKitClassList& kitClasses);
};

}  // namespace telemetry
