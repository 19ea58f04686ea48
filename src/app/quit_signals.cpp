#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace orrery {
namespace {

int gSignalPipe[2] = {-1, -1};

void onQuitSignal(int /*signal*/) {
  const char byte = 1;
  // Only async-signal-safe calls here; a full pipe already carries a quit.
  [[maybe_unused]] ssize_t written = ::write(gSignalPipe[0], &byte, 1);
}

}  // namespace

bool installQuitSignalHandlers(std::function<void()> onSignal) {
  if (gSignalPipe[0] >= 0) return true;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) return false;
  auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read);  // lives for the process
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal](QSocketDescriptor, QSocketNotifier::Type) {
    char buffer[16];
    while (::read(gSignalPipe[1], buffer, sizeof buffer) > 0) {
    }
    if (onSignal) onSignal();
  });
  struct sigaction action = {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  return true;
}

}  // namespace orrery
