#pragma once
// The application's own user defaults as the SDK sees them: where an older build kept the
// values the SDK's store now owns. By default a property-list domain named after the
// application in the user's configuration folder.

#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace telemetry {

class ApplicationDefaultsDomain {
 public:
  virtual ~ApplicationDefaultsDomain() = default;
  // The value, or null.
  virtual nlohmann::json objectForKey(const std::string& key) = 0;
  virtual void removeObjectForKey(const std::string& key) = 0;
  virtual bool synchronize() = 0;

  // "<config folder>/<escaped bundle identifier>.plist", shared by the process.
  static std::shared_ptr<ApplicationDefaultsDomain> standardUserDefaults();
};

// A defaults domain in one property-list file, read on first use.
class PlistFileDefaultsDomain final : public ApplicationDefaultsDomain {
 public:
  explicit PlistFileDefaultsDomain(std::string path) : mPath(std::move(path)) {}
  nlohmann::json objectForKey(const std::string& key) override;
  void setObject(nlohmann::json value, const std::string& key);
  void removeObjectForKey(const std::string& key) override;
  bool synchronize() override;
  const std::string& path() const { return mPath; }

 private:
  void loadIfNeeded();

  std::mutex mMutex;
  std::string mPath;
  bool mLoaded = false;
  nlohmann::json mValues = nlohmann::json::object();
};

}  // namespace telemetry
