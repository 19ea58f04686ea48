#include "model/keyed_coding.h"

namespace orrery {

KeyedClassRegistry& KeyedClassRegistry::shared() {
  static KeyedClassRegistry registry;
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
