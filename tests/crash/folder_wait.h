#pragma once
// Waits until a folder holds nothing but hidden entries, woken by the folder's own changes
// (inotify) rather than by polling. The bound turns a change that never comes into a failure
// instead of a hang; it is no timing expectation.

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace crashtest {

inline bool folderHasVisibleEntries(const std::string& folder) {
  DIR* directory = opendir(folder.c_str());
  if (!directory) return false;
  bool found = false;
  while (dirent* entry = readdir(directory))
    if (entry->d_name[0] != '.') found = true;
  closedir(directory);
  return found;
}

inline bool waitUntilFolderEmpty(const std::string& folder, std::chrono::seconds bound = std::chrono::seconds(60)) {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0) return false;
  // Watched before the first look, so a removal between a look and the wait still wakes it.
  bool empty = inotify_add_watch(watch, folder.c_str(), IN_DELETE | IN_MOVED_FROM) >= 0;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (empty && folderHasVisibleEntries(folder)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd event{watch, POLLIN, 0};
    char buffer[4096];
    if (left.count() <= 0 || poll(&event, 1, static_cast<int>(left.count())) < 0 ||
        ((event.revents & POLLIN) && read(watch, buffer, sizeof buffer) < 0))
      empty = false;
  }
  close(watch);
  return empty;
}

}  // namespace crashtest
