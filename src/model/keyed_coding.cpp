#include "model/keyed_coding.h"

#include "foundation/logging.h"

#include <algorithm>

namespace orrery {

bool mayEncodeNested(std::span<const KeyedCodable* const> enclosing, const KeyedCodable& object, const char* writer) {
  if (std::find(enclosing.begin(), enclosing.end(), &object) != enclosing.end()) {
    logLine(QStringLiteral("Circular Reference Not Allowed: Found circular reference for %1 ").arg(object.description()));
    return false;
  }
  if (enclosing.size() >= size_t(kMaxKeyedNestingDepth)) {
    logLine(QStringLiteral("%1: objects nested deeper than %2 levels are not written")
                .arg(QLatin1String(writer))
                .arg(kMaxKeyedNestingDepth));
    return false;
  }
  return true;
}

KeyedClassRegistry& KeyedClassRegistry::shared() {
  // Never destroyed: a read on the persistence queue may still decode while the process exits.
  static KeyedClassRegistry& registry = *new KeyedClassRegistry;
  return registry;
}

void KeyedClassRegistry::registerClass(const QString& className, Factory factory) {
  std::lock_guard lock(mMutex);
  mFactories.insert(className, std::move(factory));
}

void KeyedClassRegistry::unregisterClass(const QString& className) {
  std::lock_guard lock(mMutex);
  mFactories.remove(className);
}

KeyedClassRegistry::Factory KeyedClassRegistry::factoryForName(const QString& className) const {
  std::lock_guard lock(mMutex);
  return mFactories.value(className);
}

}  // namespace orrery
