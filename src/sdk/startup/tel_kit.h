#pragma once
// How kits meet the SDK core. A kit class is a process-wide object describing one kit,
// registered under its class name on construction so the core can look kits up by name
// ("CrashKit", "Analytics", "LegacyKit", "RecorderKit"). A kit object names its class.
//
// A kit that adopts TELKit answers bundleIdentifier and kitDisplayVersion, and optionally
// kitBuildVersion and initializeIfNeeded. An older kit instead offers a shared instance that
// answers start, bundleIdentifier and version.

#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class TELLegacyKitInstance {
 public:
  virtual ~TELLegacyKitInstance() = default;
  // Capability queries: whether the instance answers each call.
  virtual bool respondsToStart() const { return true; }
  virtual bool respondsToBundleIdentifier() const { return true; }
  virtual bool respondsToVersion() const { return true; }
  virtual void start() {}
  virtual std::string bundleIdentifier() const { return {}; }
  virtual std::string version() const { return {}; }
};

class TELKitClass {
 public:
  // Registers the class under `className`; while a later class of the same name lives, it
  // is the one found by name.
  explicit TELKitClass(std::string className);
  virtual ~TELKitClass();
  TELKitClass(const TELKitClass&) = delete;
  TELKitClass& operator=(const TELKitClass&) = delete;

  const std::string& className() const { return mClassName; }

  // Adoption of TELKit.
  virtual bool conformsToTELKit() const = 0;
  virtual std::string bundleIdentifier() const { return {}; }
  virtual std::string kitDisplayVersion() const { return {}; }
  virtual std::optional<std::string> kitBuildVersion() const { return std::nullopt; }
  virtual bool respondsToInitializeIfNeeded() const { return false; }
  // Starts the kit; calling it again does nothing.
  virtual void initializeIfNeeded() const {}

  // Older kits: the shared instance, or nothing when the class offers none.
  virtual TELLegacyKitInstance* sharedInstance() const { return nullptr; }

  // The registered class of that name, or nothing.
  static const TELKitClass* classNamed(const std::string& className);

 private:
  std::string mClassName;
};

// A kit object stands for its class wherever kits are passed.
class TELKitObject {
 public:
  virtual ~TELKitObject() = default;
  virtual const TELKitClass& kitClass() const = 0;
};

// One element of the kit list handed to Telemetry::with: a class or a kit object.
class TELKitArgument {
 public:
  TELKitArgument(const TELKitClass& kitClass) : mClass(&kitClass) {}
  TELKitArgument(const TELKitObject& object) : mClass(&object.kitClass()) {}
  const TELKitClass& kitClass() const { return *mClass; }

 private:
  const TELKitClass* mClass;
};

using TELKitClassList = std::vector<const TELKitClass*>;

}  // namespace telemetry
