#include "platform/core/notification_center.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();  // outlives static observers
  return *center;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name, const void* object,
                                     Handler handler) {
  auto reg = std::make_shared<Registration>(Registration{observer, name, object, std::move(handler)});
  std::lock_guard lock(mMutex);
  mRegistrations.push_back(std::move(reg));
}

void NotificationCenter::removeObserver(const void* observer) {
  std::lock_guard lock(mMutex);
  std::erase_if(mRegistrations, [&](const auto& r) {
    if (r->observer != observer) return false;
    r->removed = true;
    return true;
  });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name, const void* object) {
  std::lock_guard lock(mMutex);
  std::erase_if(mRegistrations, [&](const auto& r) {
    if (r->observer != observer) return false;
    if (!name.empty() && r->name != name) return false;
    if (object && r->object != object) return false;
    r->removed = true;
    return true;
  });
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Registration>> targets;
  {
    std::lock_guard lock(mMutex);
    for (const auto& r : mRegistrations) {
      if (!r->name.empty() && r->name != notification.name) continue;
      if (r->object && r->object != notification.object) continue;
      targets.push_back(r);
    }
  }
  for (const auto& r : targets) {
    {
      std::lock_guard lock(mMutex);
      if (r->removed) continue;
    }
    r->handler(notification);
  }
}

void NotificationCenter::post(const std::string& name, const void* object, std::map<std::string, std::any> userInfo) {
  post(Notification{name, object, std::move(userInfo)});
}

size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(mMutex);
  return mRegistrations.size();
}

}  // namespace platform
