#include "platform/services/url_opener.h"

#include <QDesktopServices>

#include <utility>

namespace platform {

namespace {
URLOpener& installedOpener() {
  static URLOpener opener;
  return opener;
}
}  // namespace

bool openURL(const QUrl& url) {
  if (!url.isValid()) return false;
  if (const auto& opener = installedOpener()) return opener(url);
  return QDesktopServices::openUrl(url);
}

URLOpener setURLOpener(URLOpener opener) { return std::exchange(installedOpener(), std::move(opener)); }

}  // namespace platform
