#include "crash/crk_memory.h"
#include "crash/crk_memory_window.h"

#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include <cstring>
#include <vector>

namespace telemetry {
namespace {

// Three pages: readable, PROT_NONE, unmapped.
class CRKMemoryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    mPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mBase = static_cast<char*>(mmap(nullptr, 3 * mPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mBase, MAP_FAILED);
    std::memset(mBase, 'a', mPage);
    ASSERT_EQ(mprotect(mBase + mPage, mPage, PROT_NONE), 0);
    ASSERT_EQ(munmap(mBase + 2 * mPage, mPage), 0);
  }
  void TearDown() override { munmap(mBase, 2 * mPage); }
  bool read(const void* address, void* out, size_t n) {
    return GetParam() ? CRKReadMemoryThroughPipe(address, out, n) : CRKReadMemory(address, out, n);
  }
  size_t mPage = 0;
  char* mBase = nullptr;
};

TEST_P(CRKMemoryTest, ReadsFailOnUnmappedAndProtectedPagesInsteadOfFaulting) {
  char out[64] = {};
  EXPECT_TRUE(read(mBase + mPage - 8, out, 8));
  EXPECT_EQ(std::string(out, 8), "aaaaaaaa");
  EXPECT_FALSE(read(mBase + mPage, out, 8)) << "PROT_NONE";
  EXPECT_FALSE(read(mBase + 2 * mPage, out, 8)) << "unmapped";
  EXPECT_FALSE(read(mBase + mPage - 4, out, 8)) << "straddling into PROT_NONE";
  EXPECT_FALSE(read(reinterpret_cast<void*>(100), out, 8)) << "below 4096, without a system call";
  // A large read crosses several pipe chunks.
  std::vector<char> big(3 * 4096 + 17, 'q');
  std::vector<char> copy(big.size());
  EXPECT_TRUE(read(big.data(), copy.data(), copy.size()));
  EXPECT_EQ(copy, big);
  // Nothing of a failed read stays behind for the next one.
  EXPECT_TRUE(read(mBase, out, 4));
  EXPECT_EQ(std::string(out, 4), "aaaa");
}

INSTANTIATE_TEST_SUITE_P(SyscallAndPipe, CRKMemoryTest, ::testing::Bool());

TEST_F(CRKMemoryTest, StringsAreCheckedUpToTheirTerminatorOrTheLimit) {
  const char* result = nullptr;
  std::memcpy(mBase + mPage - 11, "0123456789", 11);
  EXPECT_TRUE(CRKReadString(mBase + mPage - 11, &result, 128));
  EXPECT_EQ(result, mBase + mPage - 11);
  // No terminator before the protected page.
  std::memset(mBase + mPage - 11, 'x', 11);
  result = nullptr;
  EXPECT_FALSE(CRKReadString(mBase + mPage - 11, &result, 128));
  EXPECT_EQ(result, nullptr);
  EXPECT_TRUE(CRKReadString(mBase + mPage - 11, &result, 4)) << "only 4 bytes are checked";
  EXPECT_TRUE(CRKReadString(mBase + mPage - 11, &result, 11));
  EXPECT_FALSE(CRKReadString(mBase + 2 * mPage, &result, 1));
  EXPECT_FALSE(CRKReadString(reinterpret_cast<const char*>(~uintptr_t{0}), &result, 128)) << "the range wraps";
  EXPECT_FALSE(CRKReadString(reinterpret_cast<const char*>(100), &result, 0));
}

// Refuses process_vm_readv with EPERM for the rest of this process, as a container may.
bool refuseProcessVmReadv() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Two readable pages of a known pattern, then PROT_NONE, then unmapped: windowed reads must
// answer exactly as single checked reads do, across the page boundary and at its end.
// Answers 0, or the number of the first check that failed.
int windowedReadsMatchCheckedReads() {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* base = static_cast<uint8_t*>(mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED) return 1;
  for (size_t i = 0; i < 2 * page; ++i) base[i] = static_cast<uint8_t>(i * 7 + i / 251);
  mprotect(base + 2 * page, page, PROT_NONE);
  munmap(base + 3 * page, page);
  int failed = 0;
  auto check = [&](int number, bool condition) {
    if (!condition && failed == 0) failed = number;
  };
  CRKMemoryWindow window;
  CRKMemoryWindowReset(&window);
  uint8_t out[64];
  // Across the boundary between the readable pages, then served from what that read.
  check(2, CRKMemoryWindowRead(&window, base + page - 8, out, 16) && std::memcmp(out, base + page - 8, 16) == 0);
  check(3, CRKMemoryWindowRead(&window, base + page + 40, out, 8) && std::memcmp(out, base + page + 40, 8) == 0);
  // The last readable word, then a read that runs on into PROT_NONE, though the window
  // already holds its first bytes.
  check(4, CRKMemoryWindowRead(&window, base + 2 * page - 8, out, 8) && std::memcmp(out, base + 2 * page - 8, 8) == 0);
  check(5, !CRKMemoryWindowRead(&window, base + 2 * page - 4, out, 8));
  check(6, !CRKMemoryWindowRead(&window, base + 2 * page, out, 8));
  check(7, !CRKMemoryWindowRead(&window, base + 3 * page, out, 8));
  check(8, !CRKMemoryWindowRead(&window, reinterpret_cast<const void*>(100), out, 8));
  check(9, !CRKMemoryWindowRead(&window, reinterpret_cast<const void*>(UINTPTR_MAX - 3), out, 8));
  // A failed read leaves nothing wrong behind.
  check(10, CRKMemoryWindowRead(&window, base + 24, out, 8) && std::memcmp(out, base + 24, 8) == 0);
  // Longer than the window: read straight through.
  std::vector<uint8_t> big(kCRKMemoryWindowSize + 100);
  check(11, CRKMemoryWindowRead(&window, base + 8, big.data(), big.size()) &&
                std::memcmp(big.data(), base + 8, big.size()) == 0);
  check(12, !CRKMemoryWindowRead(&window, base + 2 * page - 100, big.data(), big.size()));
  // The prefix read stops at the first page it cannot read.
  std::vector<uint8_t> all(3 * page);
  check(13, CRKReadMemoryPrefix(base + 16, all.data(), all.size()) == 2 * page - 16);
  check(14, CRKReadMemoryPrefix(base + 2 * page, all.data(), 8) == 0);
  munmap(base, 3 * page);
  return failed;
}

TEST(CRKMemoryWindowTest, WindowedReadsAnswerAsCheckedReadsAcrossPagesAndAtUnreadableOnes) {
  EXPECT_EQ(windowedReadsMatchCheckedReads(), 0);
}

TEST(CRKMemoryWindowTest, AForkedChildReadsItsOwnMemoryNotItsParents) {
  CRKMemoryInitialize();
  static volatile uint64_t word = 1;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    word = 2;  // now differs from the parent's copy
    uint64_t copy = 0;
    _exit(CRKReadMemory(const_cast<const uint64_t*>(&word), &copy, sizeof copy) && copy == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(CRKMemoryProbeTest, WhereTheKernelRefusesTheCheckedReadTheStartUpProbeChoosesThePipe) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (!refuseProcessVmReadv()) _exit(10);
        CRKMemoryInitialize();
        if (!CRKMemoryUsesPipe()) _exit(11);
        const uint64_t word = 0x1122334455667788;
        uint64_t copy = 0;
        if (!CRKReadMemory(&word, &copy, sizeof copy) || copy != word) _exit(12);
        if (CRKReadMemory(reinterpret_cast<const void*>(0x10000), &copy, sizeof copy)) _exit(13);
        if (const int failed = windowedReadsMatchCheckedReads()) _exit(20 + failed);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
}

TEST(CRKMemoryHelpersTest, UnlinkSucceedsForMissingFilesAndDladdrNamesImages) {
  EXPECT_TRUE(CRKUnlinkIfExists("/nonexistent-folder-xyz/file"));
  EXPECT_FALSE(CRKUnlinkIfExists(nullptr));
  std::string symbol, image;
  CRKDladdrWithBlock(reinterpret_cast<uintptr_t>(&CRKUnlinkIfExists), [&](const char* s, const char* i) {
    symbol = s ? s : "(none)";
    image = i ? i : "(none)";
  });
  EXPECT_NE(image.find("test_crash"), std::string::npos) << image;
  EXPECT_NE(symbol.find("CRKUnlinkIfExists"), std::string::npos) << symbol;
  bool called = false;
  CRKDladdrWithBlock(16, [&](const char* s, const char* i) {
    called = true;
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(i, nullptr);
  });
  EXPECT_TRUE(called);
}

}  // namespace
}  // namespace telemetry
