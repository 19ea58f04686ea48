#include "sdk/core/standard_paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace telemetry::paths {

namespace {

std::string home() {
  const char* h = std::getenv("HOME");
  if (h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// XDG variables must hold absolute paths; anything else is ignored.
std::string xdg(const char* variable, const char* fallbackUnderHome) {
  const char* v = std::getenv(variable);
  if (v && v[0] == '/') return v;
  return join(home(), fallbackUnderHome);
}

}  // namespace

std::string join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  bool aSlash = a.back() == '/';
  bool bSlash = b.front() == '/';
  if (aSlash && bSlash) return a + b.substr(1);
  if (aSlash || bSlash) return a + b;
  return a + "/" + b;
}

std::string applicationSupportDirectory() { return xdg("XDG_DATA_HOME", ".local/share"); }
std::string cachesDirectory() { return xdg("XDG_CACHE_HOME", ".cache"); }
std::string configDirectory() { return xdg("XDG_CONFIG_HOME", ".config"); }

std::string temporaryDirectory() {
  const char* t = std::getenv("TMPDIR");
  if (t && t[0] == '/') return t;
  return "/tmp";
}

}  // namespace telemetry::paths
