// Unwinding real stacks of this program, checked against glibc's backtrace() (libgcc's
// unwinder, an independent implementation).
#include "crash/crk_unwind.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash/crk_binary_image.h"
#include "crash/crk_log.h"
#include "crash_test_support.h"
#include "sdk/binary/elf_reader.h"

namespace telemetry {
namespace {

struct Walk {
  std::vector<uint64_t> unwound;
  std::vector<uint64_t> oracle;
};

// Allocation-free, so it may run in a signal handler.
size_t unwindInto(const CRKThreadContext& state, bool fromReturnAddress, uint64_t* frames, size_t limit) {
  CRKUnwindCursor cursor;
  if (fromReturnAddress) {
    CRKUnwindInitFromReturnAddress(&cursor, &state);
  } else {
    CRKUnwindInit(&cursor, &state);
  }
  size_t n = 0;
  while (n < limit && CRKUnwindNextFrame(&cursor)) frames[n++] = CRKUnwindGetPC(&cursor);
  return n;
}

std::vector<uint64_t> unwindFrom(const CRKThreadContext& state, bool fromReturnAddress, size_t limit = 256) {
  std::vector<uint64_t> frames(limit);
  frames.resize(unwindInto(state, fromReturnAddress, frames.data(), limit));
  return frames;
}

// Both walks from here, without allocating: frame 0 of each is a return address into this
// function.
struct RawWalk {
  uint64_t unwound[256];
  size_t unwoundCount = 0;
  void* oracle[256];
  int oracleCount = 0;
};

__attribute__((noinline)) void collectRaw(RawWalk* raw) {
  CRKThreadContext state;
  CRKThreadContextCaptureCaller(&state);
  raw->oracleCount = backtrace(raw->oracle, 256);
  raw->unwoundCount = unwindInto(state, /*fromReturnAddress=*/true, raw->unwound, 256);
  asm volatile("" ::: "memory");
}

Walk fromRaw(const RawWalk& raw) {
  Walk walk;
  for (int i = 1; i < raw.oracleCount; ++i) walk.oracle.push_back(reinterpret_cast<uint64_t>(raw.oracle[i]));
  walk.unwound.assign(raw.unwound + (raw.unwoundCount ? 1 : 0), raw.unwound + raw.unwoundCount);
  // Both lists start at the frame that called collectRaw; a sanitizer's interceptor of
  // backtrace() adds frames of its own before it.
  if (!walk.unwound.empty()) {
    for (size_t skip = 0; skip < 3 && skip < walk.oracle.size(); ++skip) {
      if (walk.oracle[skip] != walk.unwound[0]) continue;
      walk.oracle.erase(walk.oracle.begin(), walk.oracle.begin() + static_cast<long>(skip));
      break;
    }
  }
  return walk;
}

__attribute__((noinline)) void collect(Walk* walk) {
  RawWalk raw;
  collectRaw(&raw);
  *walk = fromRaw(raw);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) int recurse(int depth, Walk* walk) {
  if (depth == 0) {
    collect(walk);
    return 0;
  }
  const int r = recurse(depth - 1, walk) + 1;
  asm volatile("" ::: "memory");
  return r;
}

std::string describe(uint64_t pc) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(pc), &info)) return "?";
  return std::string(info.dli_sname ? info.dli_sname : "?") + "+" +
         std::to_string(pc - reinterpret_cast<uint64_t>(info.dli_saddr)) + " in " + (info.dli_fname ? info.dli_fname : "?");
}

std::string describe(const std::vector<uint64_t>& frames) {
  std::string text;
  for (uint64_t pc : frames) text += "  " + describe(pc) + "\n";
  return text;
}

// The unwinder must produce the oracle's frames, in order, at least down to the test body.
void expectSameFrames(const Walk& walk, size_t atLeast) {
  ASSERT_GE(walk.oracle.size(), atLeast);
  ASSERT_GE(walk.unwound.size(), atLeast) << "the walk stopped early\n" << describe(walk.unwound);
  for (size_t i = 0; i < atLeast; ++i) {
    ASSERT_EQ(walk.unwound[i], walk.oracle[i]) << "frame " << i << "\nunwound:\n"
                                               << describe(walk.unwound) << "oracle:\n" << describe(walk.oracle);
  }
}

uint32_t gHighestRepeat = 0;

// The cursor counts consecutive repetitions of the same address.
__attribute__((noinline)) int recurseCountingRepeats(int depth) {
  if (depth == 0) {
    CRKThreadContext state;
    CRKThreadContextCaptureCaller(&state);
    CRKUnwindCursor cursor;
    CRKUnwindInitFromReturnAddress(&cursor, &state);
    while (CRKUnwindNextFrame(&cursor)) gHighestRepeat = std::max(gHighestRepeat, CRKUnwindGetRepeatCount(&cursor));
    return 0;
  }
  const int r = recurseCountingRepeats(depth - 1) + 1;
  asm volatile("" ::: "memory");
  return r;
}

class CRKUnwindTest : public ::testing::Test {
 protected:
  void SetUp() override { crashtest::contextReportFolder(); }
};

TEST_F(CRKUnwindTest, ARecursiveStackUnwindsLikeTheSystemUnwinder) {
  Walk walk;
  recurse(40, &walk);
  expectSameFrames(walk, 44);
  // Recursion repeats return addresses; the walk goes on through them.
  size_t repeats = 0;
  for (size_t i = 1; i < walk.unwound.size(); ++i) repeats += walk.unwound[i] == walk.unwound[i - 1];
  EXPECT_GE(repeats, 38u);

  gHighestRepeat = 0;
  recurseCountingRepeats(12);
  EXPECT_EQ(gHighestRepeat, 11u) << "thirteen frames at one return address: twelve repeat the one before";
}

int compareInts(const void* a, const void* b);
Walk* gQsortWalk = nullptr;

int compareInts(const void* a, const void* b) {
  if (gQsortWalk) {
    collect(gQsortWalk);
    gQsortWalk = nullptr;
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

TEST_F(CRKUnwindTest, FramesOfTheCLibraryWithoutFramePointersUnwindThroughTheirCallFrameInformation) {
  Walk walk;
  gQsortWalk = &walk;
  int values[64];
  for (int i = 0; i < 64; ++i) values[i] = (i * 37) % 64;
  qsort(values, 64, sizeof values[0], compareInts);
  ASSERT_EQ(gQsortWalk, nullptr);
  // compareInts, qsort's internals, qsort, this test and its callers in GoogleTest.
  expectSameFrames(walk, 6);
}

int libraryCallback(void* context) {
  collect(static_cast<Walk*>(context));
  return 1;
}

TEST_F(CRKUnwindTest, AFrameInALibraryLoadedLaterUnwindsOnceTheTableIsReconciled) {
  void* handle = dlopen(CRASH_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  auto call = reinterpret_cast<int (*)(int (*)(void*), void*)>(dlsym(handle, "crash_test_library_call"));
  ASSERT_GE(CRKBinaryImageReconcile(), 1);
  Walk walk;
  call(libraryCallback, &walk);
  expectSameFrames(walk, 5);
  dlclose(handle);
  CRKBinaryImageReconcile();
}

RawWalk gSignalWalk;
CRKThreadContext gInterrupted;
uint64_t gInterruptedFrames[256];
size_t gInterruptedCount = 0;

void handler(int, siginfo_t*, void* uc) {
  CRKThreadContextFromUcontext(static_cast<ucontext_t*>(uc), &gInterrupted);
  // While the interrupted frames are still on the stack.
  gInterruptedCount = unwindInto(gInterrupted, /*fromReturnAddress=*/false, gInterruptedFrames, 256);
  collectRaw(&gSignalWalk);
}

__attribute__((noinline)) void raiseHere() {
  raise(SIGUSR2);
  asm volatile("" ::: "memory");
}

TEST_F(CRKUnwindTest, AHandlerUnwindsThroughTheSignalFrameIntoTheInterruptedCode) {
  struct sigaction action {}, previous{};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
  void* warm[4];
  backtrace(warm, 4);  // its first call may load the system unwinder, not in a handler
  raiseHere();
  sigaction(SIGUSR2, &previous, nullptr);
  const Walk walk = fromRaw(gSignalWalk);
  const std::vector<uint64_t> frames(gInterruptedFrames, gInterruptedFrames + gInterruptedCount);
  // handler, the kernel's return trampoline, raise's frames, raiseHere, this test.
  expectSameFrames(walk, 6);

  // From the interrupted state itself: its first pc is not a return address.
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[0], gInterrupted.ss.rip);
  const auto it = std::find(walk.oracle.begin(), walk.oracle.end(), frames[1]);
  ASSERT_NE(it, walk.oracle.end()) << "the interrupted frame's caller is on the handler's stack too";
  for (size_t i = 1; i < frames.size() && it + (i - 1) != walk.oracle.end(); ++i)
    EXPECT_EQ(frames[i], *(it + (i - 1))) << "frame " << i;
}

__attribute__((noinline)) int entryTarget(int x) {
  volatile int v = x * 3;
  return v + 1;
}

TEST_F(CRKUnwindTest, AFaultOnAFunctionsFirstInstructionUsesThatFunctionsRules) {
  // The state of a thread stopped on entryTarget's first instruction: the return address
  // is on top of the stack, nothing is pushed yet.
  uint64_t stack[8] = {};
  const uint64_t returnAddress = reinterpret_cast<uint64_t>(&recurse) + 4;
  stack[0] = returnAddress;
  CRKThreadContext state{};
  state.ss.rip = reinterpret_cast<uint64_t>(&entryTarget);
  state.ss.rsp = reinterpret_cast<uint64_t>(&stack[0]);
  state.ss.rbp = 0;  // no frame pointer to fall back on
  CRKUnwindCursor cursor;
  CRKUnwindInit(&cursor, &state);
  ASSERT_TRUE(CRKUnwindNextFrame(&cursor));
  EXPECT_EQ(CRKUnwindGetPC(&cursor), state.ss.rip);
  ASSERT_TRUE(CRKUnwindNextFrame(&cursor));
  EXPECT_EQ(CRKUnwindGetPC(&cursor), returnAddress);
  EXPECT_EQ(CRKUnwindGetStackPointer(&cursor), reinterpret_cast<uint64_t>(&stack[1]));
}

TEST_F(CRKUnwindTest, APLTEntryUnwindsThroughItsExpressionRule) {
  ExecutableFile file;
  ASSERT_TRUE(openRunningExecutable(&file));
  TELElfImage image = TELElfImageOfFile(&file);
  TELElfSection plt;
  const bool found = TELElfGetSection(&image, ".plt", &plt);
  closeExecutableFile(&file);
  ASSERT_TRUE(found);
  CRKBinaryImageNode node;
  ASSERT_TRUE(CRKBinaryImageSafeFindImageForAddress(reinterpret_cast<uint64_t>(&entryTarget), &node));
  const uint64_t entry = node.slide + plt.address + 16 * 3;  // a lazy-binding entry
  const uint64_t returnAddress = reinterpret_cast<uint64_t>(&recurse) + 4;
  for (const uint64_t offset : {uint64_t{0}, uint64_t{12}}) {
    SCOPED_TRACE(offset);
    // Before the entry's push the return address is on top; after it, one slot up.
    uint64_t stack[4] = {0x1234, returnAddress, 0, 0};
    if (offset == 0) stack[0] = returnAddress;
    CRKThreadContext state{};
    state.ss.rip = entry + offset;
    state.ss.rsp = reinterpret_cast<uint64_t>(&stack[0]);
    const std::vector<uint64_t> frames = unwindFrom(state, false, 2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], returnAddress);
  }
}

sigjmp_buf gFaultReturn;
CRKThreadContext gFaultState;

void recordFault(int, siginfo_t*, void* uc) {
  CRKThreadContextFromUcontext(static_cast<ucontext_t*>(uc), &gFaultState);
  siglongjmp(gFaultReturn, 1);
}

__attribute__((noinline)) int readAt(volatile int* address) { return *address; }

TEST_F(CRKUnwindTest, ASignalsMachineContextCarriesTheFaultAndTheRegisters) {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  auto* target = reinterpret_cast<volatile int*>(static_cast<char*>(page) + 40);
  struct sigaction action {}, previous{};
  action.sa_sigaction = recordFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &action, &previous), 0);
  if (sigsetjmp(gFaultReturn, 1) == 0) readAt(target);
  sigaction(SIGSEGV, &previous, nullptr);
  munmap(page, 4096);

  EXPECT_EQ(gFaultState.es.faultvaddr, reinterpret_cast<uint64_t>(target));
  EXPECT_EQ(gFaultState.es.trapno, 14u) << "page fault";
  EXPECT_EQ(gFaultState.es.err & 2u, 0u) << "a read, not a write";
  const auto here = reinterpret_cast<uint64_t>(&action);
  EXPECT_LT(gFaultState.ss.rsp, here) << "the faulting frame lies below this one";
  EXPECT_GT(gFaultState.ss.rsp + 64 * 1024, here);
  CRKBinaryImageNode node;
  ASSERT_TRUE(CRKBinaryImageSafeFindImageForAddress(gFaultState.ss.rip, &node));
  EXPECT_GE(gFaultState.ss.rip, reinterpret_cast<uint64_t>(&readAt));
  EXPECT_LT(gFaultState.ss.rip, reinterpret_cast<uint64_t>(&readAt) + 256);
  EXPECT_NE(gFaultState.ss.cs, 0u);
}

TEST_F(CRKUnwindTest, ImpossibleStatesEndTheWalkWithoutFrames) {
  CRKThreadContext zero{};
  EXPECT_TRUE(unwindFrom(zero, false).empty());
  CRKThreadContext wild{};
  wild.ss.rip = reinterpret_cast<uint64_t>(&entryTarget) + 5;
  wild.ss.rsp = 0x10000;  // unmapped
  wild.ss.rbp = 0x20000;
  const auto frames = unwindFrom(wild, false);
  EXPECT_EQ(frames.size(), 1u) << "the first frame stands, nothing is read from the bad stack";
  EXPECT_FALSE(CRKUnwindNextFrame(nullptr));
}

}  // namespace
}  // namespace telemetry
