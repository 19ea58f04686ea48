#pragma once
// The user's standard folders as the SDK sees them on Linux (XDG base directories).

#include <string>

namespace telemetry::paths {

// $XDG_DATA_HOME, else $HOME/.local/share: where the platform keeps application support data.
std::string applicationSupportDirectory();
// $XDG_CACHE_HOME, else $HOME/.cache.
std::string cachesDirectory();
// $XDG_CONFIG_HOME, else $HOME/.config.
std::string configDirectory();
// $TMPDIR, else /tmp.
std::string temporaryDirectory();

// Joins two path pieces with exactly one "/" between them.
std::string join(const std::string& a, const std::string& b);

}  // namespace telemetry::paths
