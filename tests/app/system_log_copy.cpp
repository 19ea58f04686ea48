// Preloaded into the program a start test runs: whatever the program sends to the system log is
// also written to its standard error as "<name>[<pid>]: <line>" (the log's own LOG_PERROR), where
// the test reads those lines apart from what the program prints on the terminal itself.
#include <dlfcn.h>
#include <syslog.h>

extern "C" void openlog(const char* ident, int option, int facility) {
  using Openlog = void (*)(const char*, int, int);
  static const auto next = reinterpret_cast<Openlog>(dlsym(RTLD_NEXT, "openlog"));
  if (next) next(ident, option | LOG_PERROR, facility);
}
