// The process record in this process: the handshake with live threads (asked twice, as an
// uncaught exception's record and its abort's are), and the parsers of /proc texts.
#include <gtest/gtest.h>
#include <pthread.h>
#include <poll.h>
#include <signal.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
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

// The per-thread sections of one record of this process, as the crash callback writes it.
struct ProcessRecord {
  nlohmann::json threads, queues, names;
};

ProcessRecord recordAll(const std::string& path) {
  unlink(path.c_str());  // a repeated test writes the same file again
  telemetry::CRKFile file;
  EXPECT_TRUE(telemetry::CRKFileInitWithPath(&file, path.c_str(), false));
  telemetry::CRKHandler(&file, telemetry::CRKProcessCurrentThread(), nullptr);
  telemetry::CRKFileClose(&file);
  ProcessRecord record;
  const auto parsed = telemetry::CRKFileReadSections(path.c_str(), false);
  for (const auto& r : parsed ? *parsed : std::vector<nlohmann::json>{}) {
    if (r.contains("threads")) record.threads = r["threads"];
    if (r.contains("dispatch_queue_names")) record.queues = r["dispatch_queue_names"];
    if (r.contains("thread_names")) record.names = r["thread_names"];
  }
  EXPECT_TRUE(record.threads.is_array());
  EXPECT_EQ(record.threads.size(), record.queues.size());
  EXPECT_EQ(record.threads.size(), record.names.size());
  return record;
}

std::string nameAt(const ProcessRecord& record, size_t i) {
  return record.names[i].is_string() ? record.names[i].get<std::string>() : "";
}

// A record in which every thread `awaited` picks out by name answered: its registers and stack
// were stored and its queue label was read. A thread can miss the handshake's 200 ms when the
// machine or a sanitizer is slow, and is then rightly recorded without registers: such a
// record is taken again. A thread whose slot never answers misses every one; `unanswered`
// names those of the last record.
ProcessRecord recordAnswered(const std::string& path, const std::function<bool(const std::string&)>& awaited,
                             std::vector<std::string>& unanswered) {
  ProcessRecord record;
  for (int attempt = 0; attempt < 3; ++attempt) {
    record = recordAll(path);
    unanswered.clear();
    for (size_t i = 0; i < record.threads.size(); ++i) {
      const auto& thread = record.threads[i];
      if (awaited(nameAt(record, i)) &&
          (!thread.contains("registers") || thread["stacktrace"].empty() || !record.queues[i].is_string()))
        unanswered.push_back(nameAt(record, i));
    }
    if (unanswered.empty()) break;
  }
  return record;
}

// Threads that name themselves afresh each round ("w<index>.<round>"), then wait for the
// next round spinning, on a condition or in a pipe's poll: each way a thread can be caught.
class Crowd {
 public:
  explicit Crowd(int count) : pipes_(count) {
    for (int i = 0; i < count; ++i) {
      if (pipe(pipes_[i].data()) != 0) ADD_FAILURE() << "pipe";
      threads_.emplace_back([this, i] { run(i); });
    }
  }
  ~Crowd() {
    next(-1);
    for (auto& t : threads_) t.join();
    for (auto& p : pipes_) close(p[0]), close(p[1]);
  }
  static std::string nameOf(size_t worker, int round) {
    return "w" + std::to_string(worker) + "." + std::to_string(round);
  }
  // Starts a round (-1: stop) and returns once every thread carries the round's name.
  void next(int round) {
    {
      std::lock_guard lock(mutex_);
      round_ = round;
    }
    changed_.notify_all();
    for (auto& p : pipes_) EXPECT_EQ(write(p[1], "r", 1), 1);
    if (round < 0) return;
    const int wanted = static_cast<int>(threads_.size()) * (round + 1);
    while (named_.load() < wanted) std::this_thread::yield();
  }

 private:
  void run(int i) {
    for (int seen = -2;;) {
      const int now = round_.load();
      if (now == -1) return;
      if (now != seen && now >= 0) {
        seen = now;
        pthread_setname_np(pthread_self(), nameOf(i, now).c_str());
        named_.fetch_add(1);
      }
      if (i < 2) continue;  // two spin
      if (i % 2 == 0) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return round_ != seen; });
      } else {
        // Blocked in poll rather than read: ThreadSanitizer holds a signal back until a read returns.
        pollfd readable{pipes_[i][0], POLLIN, 0};
        char byte;
        if (poll(&readable, 1, -1) == 1 && read(pipes_[i][0], &byte, 1) != 1) return;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<int> round_{-2};  // changed under mutex_, so the waits cannot miss it
  std::atomic<int> named_{0};
  std::vector<std::array<int, 2>> pipes_;
  std::vector<std::thread> threads_;
};

}  // namespace

// Every thread of a crowded process answers every record of a series with its registers, its
// stack and its name of the moment, also once more threads have come and gone than there are
// slots.
TEST(CRKProcessRecordTest, EveryThreadOfAManyThreadRecordCarriesItsNameAndRegisters) {
  const std::string folder = crashtest::contextReportFolder();
  constexpr int kWorkers = 63;  // with the recording thread, 64
  constexpr int kCrowds = static_cast<int>(telemetry::kCRKThreadSlotCount) / kWorkers + 1;
  for (int crowdIndex = 0; crowdIndex < kCrowds; ++crowdIndex) {
    Crowd crowd(kWorkers);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(testing::Message() << "crowd " << crowdIndex << ", round " << round);
      crowd.next(round);
      const auto isWorker = [](const std::string& name) {
        return !name.empty() && name[0] == 'w' && name.find('.') != std::string::npos;
      };
      std::vector<std::string> unanswered;
      const ProcessRecord record = recordAnswered(folder + "/crowd.crkrecord", isWorker, unanswered);
      ASSERT_TRUE(record.threads.is_array());
      EXPECT_EQ(unanswered, std::vector<std::string>{});
      std::map<std::string, int> seen;
      for (size_t i = 0; i < record.threads.size(); ++i)
        if (isWorker(nameAt(record, i))) ++seen[nameAt(record, i)];
      std::map<std::string, int> expected;
      for (int w = 0; w < kWorkers; ++w) expected[Crowd::nameOf(w, round)] = 1;
      ASSERT_EQ(seen, expected);
    }
  }
}

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
    std::vector<std::string> unanswered;
    const auto [threadsSection, queues, names] = recordAnswered(
        path, [&](const std::string& name) { return name == spinnerName; }, unanswered);
    ASSERT_TRUE(threadsSection.is_array());
    EXPECT_EQ(unanswered, std::vector<std::string>{});
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
      spinners += names[i] == spinnerName;
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
  unlink(path.c_str());
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
