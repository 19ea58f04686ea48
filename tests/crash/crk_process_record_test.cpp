// The process record in this process: the handshake with live threads (asked twice, as an
// uncaught exception's record and its abort's are), and the parsers of /proc texts.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_process_record.h"
#include "crash/crk_signal.h"
#include "crash_test_support.h"

namespace {

std::atomic<bool> gStop{false};
std::atomic<uint64_t> gSpins{0};
std::atomic<int> gSpinnersNamed{0};
std::atomic<int> gNameRound{0};

// Renames itself whenever the round changes, so each record must read names afresh.
__attribute__((noinline)) void spinUntilStopped() {
  int round = -1;
  while (!gStop.load()) {
    if (const int wanted = gNameRound.load(); wanted != round) {
      round = wanted;
      pthread_setname_np(pthread_self(), round == 0 ? "spinner" : "spinner-again");
      gSpinnersNamed.fetch_add(1);
    }
    gSpins.fetch_add(1);
  }
}

std::vector<nlohmann::json> recordAll(const std::string& path) {
  telemetry::CRKFile file;
  EXPECT_TRUE(telemetry::CRKFileInitWithPath(&file, path.c_str(), false));
  telemetry::CRKHandler(&file, telemetry::CRKProcessCurrentThread(), nullptr);
  telemetry::CRKFileClose(&file);
  auto parsed = telemetry::CRKFileReadSections(path.c_str(), false);
  return parsed ? *parsed : std::vector<nlohmann::json>{};
}

}  // namespace

TEST(CRKProcessRecordTest, EveryThreadAnswersTwoRecordsInARowAndRunsOnAfterEach) {
  const std::string folder = crashtest::contextReportFolder();
  gStop = false;
  gSpinnersNamed = 0;
  gNameRound = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back(spinUntilStopped);
  // One thread blocks every signal: it is listed without registers and does not hold the
  // record up for more than the handshake's wait.
  std::atomic<bool> blocked{false};
  std::thread deaf([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    pthread_setname_np(pthread_self(), "deaf");
    blocked = true;
    while (!gStop.load()) std::this_thread::yield();
  });
  while (!blocked.load() || gSpinnersNamed.load() < 3) std::this_thread::yield();

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const char* const spinnerName = round == 0 ? "spinner" : "spinner-again";
    const std::string path = folder + "/process-" + std::to_string(round) + ".crkrecord";
    const auto all = recordAll(path);
    nlohmann::json threadsSection, queues, names;
    for (const auto& r : all) {
      if (r.contains("threads")) threadsSection = r["threads"];
      if (r.contains("dispatch_queue_names")) queues = r["dispatch_queue_names"];
      if (r.contains("thread_names")) names = r["thread_names"];
    }
    ASSERT_TRUE(threadsSection.is_array());
    EXPECT_EQ(threadsSection.size(), queues.size());
    EXPECT_EQ(threadsSection.size(), names.size());
    // Sanitizer runtimes may add threads of their own that block signals too: the test's
    // threads are told apart by name.
    int spinners = 0, deaf = 0, crashed = 0;
    for (size_t i = 0; i < threadsSection.size(); ++i) {
      const auto& t = threadsSection[i];
      if (t.contains("registers")) {
        EXPECT_FALSE(t["stacktrace"].empty());
      } else {
        EXPECT_TRUE(t["stacktrace"].empty());
        EXPECT_TRUE(queues[i].is_null());
      }
      if (names[i] == spinnerName) {
        ++spinners;
        EXPECT_TRUE(t.contains("registers"));
      }
      if (names[i] == "deaf") {
        ++deaf;
        EXPECT_FALSE(t.contains("registers"));
      }
      crashed += t.value("crashed", false);
    }
    EXPECT_EQ(spinners, 3);
    EXPECT_EQ(deaf, 1);
    EXPECT_EQ(crashed, 1);
    // Resumed: every spinning thread moves on.
    const uint64_t before = gSpins.load();
    while (gSpins.load() < before + 1000) std::this_thread::yield();
    gNameRound = round + 1;
    while (gSpinnersNamed.load() < 3 * (round + 2)) std::this_thread::yield();
  }
  gStop = true;
  for (auto& t : threads) t.join();
  deaf.join();
}

TEST(CRKProcessRecordTest, ProcTextsParseAndBadOnesGiveNothing) {
  const char meminfo[] =
      "MemTotal:       16000000 kB\nMemFree:  1234 kB\nActive(anon): 99 kB\nActive:   500 kB\n"
      "Inactive: 600 kB\nUnevictable: 7 kB\n";
  uint64_t v = 0;
  ASSERT_TRUE(telemetry::CRKProcessMeminfoValue(meminfo, sizeof meminfo - 1, "Active", &v));
  EXPECT_EQ(v, 500u);  // not "Active(anon)"
  ASSERT_TRUE(telemetry::CRKProcessMeminfoValue(meminfo, sizeof meminfo - 1, "MemFree", &v));
  EXPECT_EQ(v, 1234u);
  EXPECT_FALSE(telemetry::CRKProcessMeminfoValue(meminfo, sizeof meminfo - 1, "Wired", &v));
  const char broken[] = "Active: kB\nInactive: 99999999999999999999999 kB\n";
  EXPECT_FALSE(telemetry::CRKProcessMeminfoValue(broken, sizeof broken - 1, "Active", &v));
  EXPECT_FALSE(telemetry::CRKProcessMeminfoValue(broken, sizeof broken - 1, "Inactive", &v));

  uint64_t size = 0, resident = 0;
  const char statm[] = "1000 250 30 4 0 80 0\n";
  ASSERT_TRUE(telemetry::CRKProcessStatmValues(statm, sizeof statm - 1, &size, &resident));
  EXPECT_EQ(size, 1000u);
  EXPECT_EQ(resident, 250u);
  EXPECT_FALSE(telemetry::CRKProcessStatmValues("12", 2, &size, &resident));
  EXPECT_FALSE(telemetry::CRKProcessStatmValues("", 0, &size, &resident));
}

TEST(CRKProcessRecordTest, SignalAndExceptionTablesUseLinuxNumbers) {
  const char* name = nullptr;
  const char* code = nullptr;
  const std::pair<int, const char*> expected[] = {{SIGILL, "SIGILL"},   {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"},
                                                  {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},   {SIGKILL, "UNKNOWN"},
                                                  {SIGUSR1, "UNKNOWN"}, {SIGSEGV, "SIGSEGV"}, {SIGUSR2, "UNKNOWN"},
                                                  {SIGSYS, "SIGSYS"},   {3, "UNKNOWN"},       {64, "UNKNOWN"}};
  for (const auto& [number, text] : expected) {
    ASSERT_TRUE(telemetry::CRKSignalNameLookup(number, &name, &code));
    EXPECT_STREQ(name, text) << number;
    EXPECT_STREQ(code, number == SIGABRT ? "ABORT" : nullptr);
  }
  EXPECT_FALSE(telemetry::CRKSignalNameLookup(SIGSEGV, nullptr, &code));
  EXPECT_EQ(telemetry::CRKMachExceptionMaskForSignal(SIGKILL), 0u);
  EXPECT_EQ(telemetry::CRKMachExceptionMaskForSignal(SIGSEGV), 2u);
  EXPECT_EQ(telemetry::CRKMachExceptionMaskForSignal(SIGSYS), 0x400u);
  const int64_t eight = 8, thirteen = 13;
  telemetry::CRKMachExceptionNameLookup(6, &eight, &name, &code);
  EXPECT_STREQ(name, "EXC_BREAKPOINT");
  EXPECT_EQ(code, nullptr);
  telemetry::CRKMachExceptionNameLookup(6, &thirteen, &name, &code);
  EXPECT_STREQ(code, "EXC_I386_GPFLT");
  // Faults raised by the processor recur on return; sent ones and traps do not.
  siginfo_t info{};
  info.si_code = SEGV_MAPERR;
  EXPECT_TRUE(telemetry::CRKSignalRecurs(SIGSEGV, &info));
  EXPECT_FALSE(telemetry::CRKSignalRecurs(SIGTRAP, &info));
  info.si_code = SI_USER;
  EXPECT_FALSE(telemetry::CRKSignalRecurs(SIGSEGV, &info));
  EXPECT_FALSE(telemetry::CRKSignalRecurs(SIGSEGV, nullptr));
}

TEST(CRKProcessRecordTest, GarbageStatesAndMissingThreadsGiveEmptyValues) {
  const std::string folder = crashtest::contextReportFolder();
  telemetry::CRKProcess process;
  process.task = getpid();
  process.currentThread = telemetry::CRKProcessCurrentThread();
  process.crashedThread = 0;
  process.threadCount = 3;
  // A parked thread whose stored registers are garbage, one that never answered, and a
  // thread id that does not exist.
  telemetry::CRKThreadSlot garbage;
  garbage.state.store(telemetry::kCRKSlotParked);
  std::memset(&garbage.context, 0xA5, sizeof garbage.context);
  garbage.context.ss.rsp = 0x10;
  std::memset(garbage.queueLabel, 'x', sizeof garbage.queueLabel - 1);
  garbage.queueLabel[sizeof garbage.queueLabel - 1] = '\0';
  garbage.hasQueue = true;
  telemetry::CRKThreadSlot silent;
  silent.state.store(telemetry::kCRKSlotResumed);
  process.threads[0] = 999999001;
  process.slots[0] = &garbage;
  process.threads[1] = 999999002;
  process.slots[1] = &silent;
  process.threads[2] = 999999003;
  process.slots[2] = nullptr;
  telemetry::CRKThreadContext out;
  EXPECT_FALSE(telemetry::CRKProcessGetThreadState(&process, 1, &out));
  EXPECT_FALSE(telemetry::CRKProcessGetThreadState(&process, 0, nullptr));
  EXPECT_FALSE(telemetry::CRKProcessGetThreadState(&process, 7, &out));

  const std::string path = folder + "/garbage.crkrecord";
  telemetry::CRKFile file;
  ASSERT_TRUE(telemetry::CRKFileInitWithPath(&file, path.c_str(), false));
  telemetry::CRKProcessRecordAllThreads(&process, &file);
  telemetry::CRKProcessRecordDispatchQueueNames(&process, &file);
  telemetry::CRKProcessRecordThreadNames(&process, &file);
  telemetry::CRKFileClose(&file);
  const auto all = telemetry::CRKFileReadSections(path.c_str(), false);
  ASSERT_TRUE(all && all->size() == 3);
  const auto& threads = (*all)[0]["threads"];
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_TRUE(threads[0].contains("registers"));
  EXPECT_TRUE(threads[0]["stacktrace"].empty());  // rsp 0x10: nothing to walk
  EXPECT_EQ(threads[1], nlohmann::json({{"stacktrace", nlohmann::json::array()}}));
  EXPECT_EQ(threads[2], nlohmann::json({{"stacktrace", nlohmann::json::array()}}));
  EXPECT_EQ((*all)[1]["dispatch_queue_names"], nlohmann::json({std::string(127, 'x'), nullptr, nullptr}));
  EXPECT_EQ((*all)[2]["thread_names"], nlohmann::json({"", "", ""}));
}
