#pragma once
// The one way the application hands a URL to the system (the browser, the mail program):
// every screen and the cloud sign-in call openURL. Tests replace the opener and see the URL
// instead of a browser starting. Main thread only.

#include <QUrl>

#include <functional>

namespace platform {

using URLOpener = std::function<bool(const QUrl& url)>;

// True when the system accepted the URL.
bool openURL(const QUrl& url);
// Replaces the opener (null: the system's); returns the previous one.
URLOpener setURLOpener(URLOpener opener);

}  // namespace platform
