#include "sdk/startup/tel_kit.h"

#include <map>
#include <mutex>

namespace telemetry {

namespace {

struct Registry {
  std::mutex mutex;
  // Latest registration last; an ended one uncovers the one before it.
  std::map<std::string, std::vector<const TELKitClass*>> classes;
};

Registry& registry() {
  static Registry* r = new Registry();  // kit classes may be registered from static objects
  return *r;
}

}  // namespace

TELKitClass::TELKitClass(std::string className) : mClassName(std::move(className)) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.classes[mClassName].push_back(this);
}

TELKitClass::~TELKitClass() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.classes.find(mClassName);
  if (it == r.classes.end()) return;
  std::erase(it->second, this);
  if (it->second.empty()) r.classes.erase(it);
}

const TELKitClass* TELKitClass::classNamed(const std::string& className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.classes.find(className);
  return it == r.classes.end() ? nullptr : it->second.back();
}

}  // namespace telemetry
