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

KeyedClassRegistry::Factory KeyedClassRegistry::factoryForName(const QString& className) const {
  std::lock_guard lock(mMutex);
  return mFactories.value(className);
}

}  // namespace orrery
