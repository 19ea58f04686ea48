#pragma once
// Non-owning references that notice when their target is destroyed. Views, layers,
// responders and delegates refer to each other this way, including from constructors,
// where std::weak_ptr from shared_from_this is not yet available.

#include <cstring>
#include <memory>
#include <typeinfo>

namespace platform {

class Trackable {
 public:
  Trackable() = default;
  Trackable(const Trackable&) {}
  Trackable& operator=(const Trackable&) { return *this; }
  virtual ~Trackable() {
    if (mToken) *mToken = nullptr;
  }

  // Made when first asked for: most layers of a crowded view are never referred to this way,
  // and a million of them would each make one for nothing.
  const std::shared_ptr<Trackable*>& trackingToken() const {
    if (!mToken) mToken = std::make_shared<Trackable*>(const_cast<Trackable*>(this));
    return mToken;
  }

 protected:
  // Called early by destructors of classes whose half-destroyed state must not be reached.
  void invalidateTracking() {
    if (mToken)
      *mToken = nullptr;
    else
      mToken = std::make_shared<Trackable*>(nullptr);
  }

 private:
  mutable std::shared_ptr<Trackable*> mToken;
};

template <class T>
class WeakRef {
 public:
  WeakRef() = default;
  WeakRef(T* target) { reset(target); }  // NOLINT: implicit like a pointer
  void reset(T* target = nullptr) {
    mToken = target ? static_cast<const Trackable*>(target)->trackingToken() : nullptr;
    Trackable* now = mToken ? *mToken : nullptr;
    mType = now ? &typeid(*now) : nullptr;
    // What the cast gives while the target is of this type (none while it is only a base of T).
    mTarget = now ? castOnce(now) : nullptr;
  }
  T* get() const {
    if (!mToken || !*mToken) return nullptr;
    // The cast depends on the target's type of the moment alone (a base while it is made or
    // destroyed): while that is the type it was set with, the cast made then holds.
    Trackable* target = *mToken;
    return &typeid(*target) == mType ? mTarget : dynamic_cast<T*>(target);
  }
  T* operator->() const { return get(); }
  explicit operator bool() const { return get() != nullptr; }
  bool operator==(const T* other) const { return get() == other; }

 private:
  // A cast reads only the object's address and the virtual table it points to (one of its own
  // while a base of it is made), so the last one made serves again for the same two: references
  // set to one target in a row (the planets of an orbit of 100 000 to their view) pay for one
  // cast through a deep hierarchy. The table tells apart what the type alone would not: another
  // object made later at the same address, still only a base of its type.
  static T* castOnce(Trackable* target) {
    struct Last {
      const Trackable* target = nullptr;
      const void* table = nullptr;
      T* cast = nullptr;
    };
    thread_local Last last;
    const void* table = nullptr;
    std::memcpy(&table, static_cast<const void*>(target), sizeof table);
    if (last.target != target || last.table != table) last = {target, table, dynamic_cast<T*>(target)};
    return last.cast;
  }

  std::shared_ptr<Trackable*> mToken;
  const std::type_info* mType = nullptr;
  T* mTarget = nullptr;
};

}  // namespace platform
