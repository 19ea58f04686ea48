#pragma once
// Named notifications delivered synchronously on the posting thread, in the order observers
// registered. Delivery runs over a copy of the observer list, so observers may add or remove
// registrations (their own or others') while a notification is delivered; one removed during
// delivery is not called afterwards.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct Notification {
  std::string name;
  const void* object = nullptr;
  std::map<std::string, std::any> userInfo;
};

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  // `observer` only identifies the registration for removal. An empty name matches every
  // notification; a null object matches any object.
  void addObserver(const void* observer, const std::string& name, const void* object, Handler handler);
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, const std::string& name, const void* object = nullptr);

  void post(const Notification& notification);
  void post(const std::string& name, const void* object = nullptr,
            std::map<std::string, std::any> userInfo = {});

  size_t observerCount() const;

 private:
  struct Registration {
    const void* observer;
    std::string name;
    const void* object;
    Handler handler;
    bool removed = false;
  };
  mutable std::mutex mMutex;
  std::vector<std::shared_ptr<Registration>> mRegistrations;
};

// Removes its owner's registrations when destroyed: hold one as a member.
class ObserverScope {
 public:
  explicit ObserverScope(NotificationCenter& center = NotificationCenter::defaultCenter()) : mCenter(center) {}
  ~ObserverScope() { mCenter.removeObserver(this); }
  ObserverScope(const ObserverScope&) = delete;
  ObserverScope& operator=(const ObserverScope&) = delete;
  void observe(const std::string& name, const void* object, NotificationCenter::Handler handler) {
    mCenter.addObserver(this, name, object, std::move(handler));
  }
  void stopObserving() { mCenter.removeObserver(this); }

 private:
  NotificationCenter& mCenter;
};

}  // namespace platform
