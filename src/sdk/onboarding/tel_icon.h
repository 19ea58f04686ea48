#pragma once
// The application icon as onboarding sends it: PNG bytes, their SHA-1, the size in points
// and whether it needs no further effects.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

struct TELIconSize {
  double width = 0;
  double height = 0;
};

class TELIcon {
 public:
  static constexpr double kMaxSurfaceArea = 1024.0 * 1024.0;

  TELIcon(std::vector<std::uint8_t> data, std::string dataHash, TELIconSize size, bool prerendered);
  // The hash is the SHA-1 of the data.
  TELIcon(std::vector<std::uint8_t> data, TELIconSize size, bool prerendered);
  TELIcon(std::vector<std::uint8_t> data, TELIconSize size);
  // PNG bytes as they are: the size comes from the image header. Nothing when the bytes are
  // no PNG image.
  static std::shared_ptr<TELIcon> initWithPNGData(std::vector<std::uint8_t> png);

  const std::vector<std::uint8_t>& data() const { return mData; }
  const std::string& dataHash() const { return mDataHash; }
  TELIconSize size() const { return mSize; }
  bool prerendered() const { return mPrerendered; }

  double surfaceArea() const { return mSize.width * mSize.height; }
  bool isWithinMaxSurfaceArea() const { return surfaceArea() <= kMaxSurfaceArea; }
  bool largerThanSize(TELIconSize size) const { return surfaceArea() > size.width * size.height; }

 private:
  std::vector<std::uint8_t> mData;
  std::string mDataHash;
  TELIconSize mSize;
  bool mPrerendered;
};

// Finds the application's icon once and keeps it.
class TELAppIconUtility {
 public:
  std::shared_ptr<TELIcon> applicationIcon();
  // The icon named by the property list's "CFBundleIconFile" ("app_icon.png" when absent),
  // looked for where the property list is looked for; nothing without an image.
  static std::shared_ptr<TELIcon> fetchApplicationIcon();

 private:
  bool mFetched = false;
  std::shared_ptr<TELIcon> mIcon;
};

}  // namespace telemetry
