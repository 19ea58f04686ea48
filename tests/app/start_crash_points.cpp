// The test build of the program dies of SIGSEGV at the point of its start named in
// ORRERY_CRASH_AT ("start", "application", "launch", "hand-over"), or stops there for good,
// saying so on its standard error, at the point named in ORRERY_HOLD_AT, as a start waiting on
// something that never comes would; the program itself has no such switch.
#include "app/start_crash_capture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace orrery {

void startPointReached(const char* point) {
  const char* asked = std::getenv("ORRERY_CRASH_AT");
  if (asked && std::strcmp(asked, point) == 0) std::raise(SIGSEGV);
  const char* held = std::getenv("ORRERY_HOLD_AT");
  if (!held || std::strcmp(held, point) != 0) return;
  std::fprintf(stderr, "orrery: held at %s\n", point);
  std::fflush(stderr);
  for (;;) ::pause();  // a handled signal returns here
}

}  // namespace orrery
