#include "crash/crk_early_capture.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "crash/crk_context.h"
#include "crash/crk_file.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_signal.h"
#include "platform/core/regular_file.h"
#include "sdk/core/file_io.h"
#include "sdk/core/standard_paths.h"

namespace telemetry {

namespace {

// Everything the handler reads is prepared before it is installed and never changes after.
struct EarlyCapture {
  bool installed = false;
  bool markerFound = false;
  int lock = -1;
  std::string reportPath;
  std::string markerPath;
  std::string signalPath;
  struct sigaction priorActions[kCRKSavedSignalCount] = {};
  stack_t priorStack = {};
  bool priorStackSaved = false;
  void (*atHandOver)() = nullptr;
};

EarlyCapture gEarly;
alignas(16) char gStack[kCRKSignalStackSize];
char gWriteBuffer[kCRKCrashWriteBufferSize];

void restorePriorHandling() {
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) sigaction(kCRKHandledSignals[i], &gEarly.priorActions[i], nullptr);
}

void earlySignalHandler(int number, siginfo_t* information, void*);

bool isOwnAction(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == earlySignalHandler;
}

void earlySignalHandler(int number, siginfo_t* information, void*) {
  const int savedErrno = errno;
  // Whatever happens below, a second fault ends the process as it would have without us.
  restorePriorHandling();
  sigset_t none;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  CRKFile file;
  if (CRKFileInitWithPathAndBuffer(&file, gEarly.signalPath.c_str(), gWriteBuffer, sizeof gWriteBuffer)) {
    CRKSignalWriteSection(&file, number, information, savedErrno);
    CRKFileClose(&file);
  }
  errno = savedErrno;
  if (!CRKSignalRecurs(number, information)) raise(number);
}

// The smallest metadata a report folder needs to be read as a report of its own.
bool writeIdentity(const std::string& path, const std::string& sessionId) {
  CRKFile file;
  if (!CRKFileInitWithPath(&file, path.c_str(), /*bufferEnabled=*/true)) return false;
  CRKFileWriteSectionStart(&file, "identity");
  CRKFileWriteHashStart(&file);
  CRKFileWriteHashEntryUint64(&file, "started_at", static_cast<uint64_t>(time(nullptr)));
  CRKFileWriteHashEntryString(&file, "session_id", sessionId.c_str());
  CRKFileWriteHashEnd(&file);
  CRKFileWriteSectionEnd(&file);
  return CRKFileClose(&file);
}

// 32 lowercase hexadecimal digits, as the kit names a run's folder; straight from the kernel,
// since loading the cryptography library's configuration would cost the start a millisecond.
std::string sessionIdentifier() {
  unsigned char bytes[16] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace

bool CRKEarlyCaptureInstall(const std::string& rootPath, void (*atHandOver)()) {
  if (gEarly.installed || rootPath.empty()) return false;
  CRKFileManager files(rootPath);
  const std::string id = sessionIdentifier();
  if (id.empty()) return false;
  const std::string report = paths::join(files.activePath(), id);
  std::string error;
  if (!fileio::createDirectories(report, &error)) return false;
  const std::string marker = files.launchMarkerPath();
  gEarly.markerFound = fileio::kindOf(marker) != fileio::FileKind::Missing;
  if (!gEarly.markerFound) {
    const int fd = platform::openRegularFileForWriting(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::close(fd);
  }
  if (!writeIdentity(paths::join(report, "metadata.crkrecord"), id)) {
    fileio::removeItem(report, &error);
    return false;
  }
  // Another instance starting meanwhile takes the folder for ours, not for an earlier report.
  gEarly.lock = CRKFileManager::lockReportFolder(report);
  gEarly.reportPath = report;
  gEarly.markerPath = marker;
  gEarly.signalPath = paths::join(report, "signal.crkrecord");
  gEarly.atHandOver = atHandOver;

  stack_t stack{};
  stack.ss_sp = gStack;
  stack.ss_size = sizeof gStack;
  gEarly.priorStackSaved = sigaltstack(&stack, &gEarly.priorStack) == 0;
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    struct sigaction action {};
    action.sa_sigaction = earlySignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(kCRKHandledSignals[i], &action, &gEarly.priorActions[i]);
  }
  gEarly.installed = true;
  return true;
}

std::optional<bool> CRKEarlyCaptureMarkerFound() {
  if (!gEarly.installed) return std::nullopt;
  return gEarly.markerFound;
}

void CRKEarlyCaptureHandOverReached() {
  if (gEarly.installed && gEarly.atHandOver) gEarly.atHandOver();
}

void CRKEarlyCaptureSeeThroughAction(size_t signalIndex, struct sigaction* action) {
  if (signalIndex < kCRKSavedSignalCount && isOwnAction(*action)) *action = gEarly.priorActions[signalIndex];
}

void CRKEarlyCaptureSeeThroughStack(stack_t* stack) {
  if (stack->ss_sp == gStack && gEarly.priorStackSaved) *stack = gEarly.priorStack;
}

std::optional<bool> CRKEarlyCaptureEnd() {
  if (!gEarly.installed) return std::nullopt;
  gEarly.installed = false;
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    struct sigaction current {};
    if (sigaction(kCRKHandledSignals[i], nullptr, &current) == 0 && isOwnAction(current))
      sigaction(kCRKHandledSignals[i], &gEarly.priorActions[i], nullptr);
  }
  stack_t current{};
  if (gEarly.priorStackSaved && sigaltstack(nullptr, &current) == 0 && current.ss_sp == gStack)
    sigaltstack(&gEarly.priorStack, nullptr);
  std::string error;
  fileio::removeItem(gEarly.reportPath, &error);
  if (gEarly.lock >= 0) ::close(gEarly.lock);
  gEarly.lock = -1;
  return gEarly.markerFound;
}

void CRKEarlyCaptureAbandon() {
  const std::string marker = gEarly.markerPath;
  if (const auto found = CRKEarlyCaptureEnd(); found && !*found) ::unlink(marker.c_str());
}

std::string CRKEarlyCaptureReportPath() { return gEarly.installed ? gEarly.reportPath : std::string(); }

}  // namespace telemetry
