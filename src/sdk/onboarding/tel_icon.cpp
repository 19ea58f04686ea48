#include "sdk/onboarding/tel_icon.h"

#include "sdk/core/file_io.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/main_bundle.h"

#include <cstring>

namespace telemetry {

namespace {

constexpr std::uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A file name only: the property list must not point the SDK at other folders.
bool isPlainFileName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

TELIcon::TELIcon(std::vector<std::uint8_t> data, std::string dataHash, TELIconSize size, bool prerendered)
    : mData(std::move(data)), mDataHash(std::move(dataHash)), mSize(size), mPrerendered(prerendered) {}

TELIcon::TELIcon(std::vector<std::uint8_t> data, TELIconSize size, bool prerendered)
    : TELIcon(data, TELSHA1HexStringFromData(data), size, prerendered) {}

TELIcon::TELIcon(std::vector<std::uint8_t> data, TELIconSize size) : TELIcon(std::move(data), size, true) {}

std::shared_ptr<TELIcon> TELIcon::initWithPNGData(std::vector<std::uint8_t> png) {
  // Signature, then the IHDR chunk: length, type, width, height.
  if (png.size() < 24 || std::memcmp(png.data(), kPNGSignature, 8) != 0 || std::memcmp(png.data() + 12, "IHDR", 4) != 0)
    return nullptr;
  TELIconSize size{static_cast<double>(bigEndian32(png.data() + 16)), static_cast<double>(bigEndian32(png.data() + 20))};
  if (size.width <= 0 || size.height <= 0) return nullptr;
  // Not make_shared: the control block stays a type of this file alone.
  return std::shared_ptr<TELIcon>(new TELIcon(std::move(png), size));
}

std::shared_ptr<TELIcon> TELAppIconUtility::applicationIcon() {
  if (!mFetched) {
    mIcon = fetchApplicationIcon();
    mFetched = true;
  }
  return mIcon;
}

std::shared_ptr<TELIcon> TELAppIconUtility::fetchApplicationIcon() {
  MainBundle& bundle = MainBundle::shared();
  std::string name = bundle.stringForInfoDictionaryKey("CFBundleIconFile").value_or("app_icon.png");
  if (!isPlainFileName(name)) return nullptr;
  std::vector<std::string> folders;
  if (auto info = bundle.infoPath()) folders.push_back(info->substr(0, info->find_last_of('/')));
  for (const auto& candidate : bundle.infoSearchPaths()) folders.push_back(candidate.substr(0, candidate.find_last_of('/')));
  for (const auto& folder : folders) {
    if (auto bytes = fileio::readFile(folder + "/" + name, 4u << 20))
      if (auto icon = TELIcon::initWithPNGData(std::move(*bytes))) return icon;
  }
  return nullptr;
}

}  // namespace telemetry
