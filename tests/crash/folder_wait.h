#pragma once
// Waits until a folder holds nothing but hidden entries, or holds a given entry, woken by the
// folder's own changes (inotify) rather than by polling. The bound turns a change that never
// comes into a failure instead of a hang; it is no timing expectation.

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace crashtest {

inline bool folderHasEntry(const std::string& folder, const std::function<bool(const std::string& name)>& match) {
  DIR* directory = opendir(folder.c_str());
  if (!directory) return false;
  bool found = false;
  while (dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && match(name)) found = true;
  }
  closedir(directory);
  return found;
}

inline bool folderHasVisibleEntries(const std::string& folder) {
  return folderHasEntry(folder, [](const std::string& name) { return name[0] != '.'; });
}

// Waits until `done` holds, looking again after every change of the kinds in `mask`.
// Watched before the first look, so a change between a look and the wait still wakes it.
inline bool waitForFolderChange(const std::string& folder, uint32_t mask, const std::function<bool()>& done,
                                std::chrono::seconds bound) {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0) return false;
  bool watching = inotify_add_watch(watch, folder.c_str(), mask) >= 0;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (watching && !done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd event{watch, POLLIN, 0};
    char buffer[4096];
    if (left.count() <= 0 || poll(&event, 1, static_cast<int>(left.count())) < 0 ||
        ((event.revents & POLLIN) && read(watch, buffer, sizeof buffer) < 0))
      watching = false;
  }
  close(watch);
  return watching;
}

inline bool waitUntilFolderEmpty(const std::string& folder, std::chrono::seconds bound = std::chrono::seconds(60)) {
  return waitForFolderChange(folder, IN_DELETE | IN_MOVED_FROM, [&] { return !folderHasVisibleEntries(folder); },
                             bound);
}

// Hidden entries included.
inline bool waitForEntryEndingWith(const std::string& folder, const std::string& suffix,
                                   std::chrono::seconds bound = std::chrono::seconds(60)) {
  auto present = [&] {
    return folderHasEntry(folder, [&](const std::string& name) {
      return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    });
  };
  return waitForFolderChange(folder, IN_CREATE | IN_MOVED_TO, present, bound);
}

}  // namespace crashtest
