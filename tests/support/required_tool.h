#pragma once
// Tests that compare against a system tool fail, never skip, when it is missing, and say which
// Debian package brings it (scripts/install-deps.sh installs them all).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace testsupport {

inline bool toolOnPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (!folder.empty() && ::access((folder + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

// True when `tool` can run; otherwise records a failure naming `package` and answers false.
inline bool requireTool(const std::string& tool, const std::string& package) {
  if (toolOnPath(tool)) return true;
  ADD_FAILURE() << tool << " is needed by this test but is not installed: install the Debian package " << package
                << " (scripts/install-deps.sh does)";
  return false;
}

}  // namespace testsupport
