// Crashes at a known depth, unwinds itself from the signal's state with the crash
// reporter's unwinder, prints the frames ("FRAME 0x<pc> <symbol>"), then lets the fault
// kill it with a core dump. The chain, innermost first: a C leaf without unwind tables,
// a function using alloca, a callback called from a shared library, a qsort comparator,
// a lambda run by std::call_once (through libstdc++ and libc), runProbe, main.
#include <alloca.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "crash/crk_binary_image.h"
#include "core_dumps.h"
#include "crash/crk_context.h"
#include "crash/crk_unwind.h"

extern "C" void probe_leaf_store(volatile int* target);
extern "C" int crash_test_library_call(int (*callback)(void*), void* context);

namespace {

uint64_t gFrames[256];
int gFrameCount = 0;
volatile int* gTarget = nullptr;

void onFault(int, siginfo_t*, void* uc) {
  telemetry::CRKThreadContext state;
  telemetry::CRKThreadContextFromUcontext(static_cast<ucontext_t*>(uc), &state);
  telemetry::CRKBinaryImageReconcile();
  telemetry::CRKUnwindCursor cursor;
  telemetry::CRKUnwindInit(&cursor, &state);
  while (gFrameCount < 256 && telemetry::CRKUnwindNextFrame(&cursor)) gFrames[gFrameCount++] = telemetry::CRKUnwindGetPC(&cursor);
  for (int i = 0; i < gFrameCount; ++i) {
    Dl_info info{};
    const char* name = dladdr(reinterpret_cast<void*>(gFrames[i] - (i ? 1 : 0)), &info) && info.dli_sname ? info.dli_sname : "?";
    std::printf("FRAME 0x%llx %s\n", static_cast<unsigned long long>(gFrames[i]), name);
  }
  std::fflush(stdout);
  // SA_RESETHAND restored the default action: the store faults again and the core is cut.
}

}  // namespace

// Exported with plain names, so the probe can name its own frames.
extern "C" __attribute__((noinline)) int withAlloca(int size) {
  char* buffer = static_cast<char*>(alloca(static_cast<size_t>(size)));
  std::memset(buffer, 1, static_cast<size_t>(size));
  probe_leaf_store(gTarget);
  asm volatile("" ::"r"(buffer) : "memory");
  return buffer[size / 2];
}

extern "C" __attribute__((noinline)) int libraryCallback(void* context) {
  const int r = withAlloca(*static_cast<int*>(context));
  asm volatile("" ::: "memory");
  return r + 1;
}

static bool gCrashInComparator = true;

extern "C" __attribute__((noinline)) int compareInts(const void* a, const void* b) {
  if (gCrashInComparator) {
    int size = 100 + *static_cast<const int*>(a);
    const int r = crash_test_library_call(libraryCallback, &size);
    asm volatile("" ::: "memory");
    if (r == 12345) std::abort();
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

extern "C" __attribute__((noinline)) int runProbe() {
  static std::once_flag once;
  int values[32];
  for (int i = 0; i < 32; ++i) values[i] = (i * 7) % 32;
  std::call_once(once, [&values] {
    std::qsort(values, 32, sizeof values[0], compareInts);
    asm volatile("" ::: "memory");  // keeps the lambda's own frame
  });
  asm volatile("" ::: "memory");
  return values[0];
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  crashtest::allowCoreDumps();
  telemetry::CRKContextInitData data;
  data.reportPath = argv[1];
  telemetry::CRKContextInitialize(&data);
  struct sigaction action {};
  action.sa_sigaction = onFault;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
  std::printf("PID %d\n", static_cast<int>(getpid()));
  std::fflush(stdout);
  const int r = runProbe();
  std::printf("not reached %d\n", r);
  return 0;
}
