#pragma once
// Lets the calling process leave a core dump of any size (up to the hard limit).
#include <sys/resource.h>

namespace crashtest {

inline void allowCoreDumps() {
  rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  if (setrlimit(RLIMIT_CORE, &unlimited) != 0) {
    rlimit current{};
    getrlimit(RLIMIT_CORE, &current);
    current.rlim_cur = current.rlim_max;
    setrlimit(RLIMIT_CORE, &current);
  }
}

}  // namespace crashtest
