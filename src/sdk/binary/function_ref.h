#pragma once
// A non-owning reference to a callable: lets the executable reader take blocks without
// allocating, so its walks stay usable where the heap is off limits.

#include <type_traits>
#include <utility>

namespace telemetry {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F&& f)  // NOLINT: implicit by design, like a function pointer
      : mObject(const_cast<void*>(static_cast<const void*>(&f))),
        mCall([](void* o, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return mCall(mObject, std::forward<Args>(args)...); }

 private:
  void* mObject;
  R (*mCall)(void*, Args...);
};

}  // namespace telemetry
