// The test build of the program dies of SIGSEGV at the point of its start named in
// ORRERY_CRASH_AT ("start", "application", "launch", "hand-over"), or stops there for good,
// saying so on its standard error, at the point named in ORRERY_HOLD_AT, as a start waiting on
// something that never comes would; the program itself has no such switch. ORRERY_HOLD_AT
// "open" holds the main thread on its first turn after the start, while the files handed to it
// are being opened, as a long open would; with ORRERY_WRITE_WHILE_HELD naming a file, a thread
// meanwhile replaces that file and is still writing it when the program begins to end.
#include "app/start_crash_capture.h"

#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"
#include "platform/core/writes_under_way.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

namespace orrery {

namespace {

void holdHere(const char* point) {
  std::fprintf(stderr, "orrery: held at %s\n", point);
  std::fflush(stderr);
  for (;;) ::pause();  // a handled signal returns here
}

// "whole\n" 100 000 times: half of it, then the rest once the program has begun to end.
void writeUntilTheEnd(const std::string& path) {
  std::string content;
  for (int i = 0; i < 100000; ++i) content += "whole\n";
  platform::writeFileAtomically(path, [&content](int fd) {
    std::fprintf(stderr, "orrery: writing\n");
    std::fflush(stderr);
    if (!platform::writeAllBytes(fd, std::string_view(content).substr(0, content.size() / 2))) return false;
    while (!platform::writesClosed()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return platform::writeAllBytes(fd, std::string_view(content).substr(content.size() / 2));
  });
}

}  // namespace

void startPointReached(const char* point) {
  const char* asked = std::getenv("ORRERY_CRASH_AT");
  if (asked && std::strcmp(asked, point) == 0) std::raise(SIGSEGV);
  const char* held = std::getenv("ORRERY_HOLD_AT");
  if (held && std::strcmp(held, "open") == 0 && std::strcmp(point, "launch") == 0) {
    platform::mainQueue().async([] {
      if (const char* path = std::getenv("ORRERY_WRITE_WHILE_HELD"))
        std::thread(writeUntilTheEnd, std::string(path)).detach();
      holdHere("open");
    });
    return;
  }
  if (held && std::strcmp(held, point) == 0) holdHere(point);
}

}  // namespace orrery
