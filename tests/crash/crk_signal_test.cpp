// The crasher dies in each way a program can; the record it leaves must hold the fault,
// every thread and the process facts, and the process must end as it would without the kit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crash/crk_file_reader.h"
#include "crash/crk_signal.h"
#include "crash_test_support.h"
#include "support/required_tool.h"

namespace {

struct CrashRun {
  int status = 0;
  std::string output;
  std::string folder;
  std::map<std::string, std::pair<uint64_t, uint64_t>> symbols;
  ::testing::AssertionResult killedBy(int sig) const { return crashtest::killedBy(status, sig); }
  ::testing::AssertionResult exitedWith(int code) const { return crashtest::exitedWith(status, code); }
};

// Runs the crasher; `onReady` (may be null) gets its pid once it printed READY.
CrashRun runCrasher(const std::string& kind, const std::vector<std::string>& extra = {},
                    void (*onReady)(pid_t) = nullptr, const char* crasher = CRASH_CRASHER) {
  CrashRun run;
  run.folder = crashtest::makeFolder("crasher-" + kind);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    std::vector<std::string> args = {crasher, run.folder, kind};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[4096];
  bool readySent = false;
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    run.output.append(buffer, static_cast<size_t>(n));
    if (!readySent && onReady && run.output.find("READY\n") != std::string::npos) {
      readySent = true;
      onReady(pid);
    }
  }
  close(pipeFds[0]);
  waitpid(pid, &run.status, 0);
  std::istringstream in(run.output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SYM ", 0) != 0) continue;
    std::istringstream f(line.substr(4));
    std::string name;
    uint64_t start = 0, end = 0;
    f >> name >> start >> end;
    run.symbols[name] = {start, end};
  }
  return run;
}

// Every line of a record file parses; answers the records.
std::vector<nlohmann::json> records(const std::string& path) {
  const auto lines = crashtest::readLines(path);
  auto parsed = telemetry::CRKFileReadSections(path.c_str(), false);
  if (!parsed) return {};
  EXPECT_EQ(parsed->size(), lines.size()) << path;
  return *parsed;
}

std::optional<nlohmann::json> section(const std::vector<nlohmann::json>& all, const std::string& name) {
  for (const auto& r : all)
    if (r.contains(name)) return r[name];
  return std::nullopt;
}

bool inSymbol(const CrashRun& run, const std::string& name, uint64_t pc) {
  auto it = run.symbols.find(name);
  return it != run.symbols.end() && pc >= it->second.first && pc <= it->second.second;
}

// The checks every recorded crash passes; answers the crashed thread's stack.
std::vector<uint64_t> checkCrashRecord(const CrashRun& run, const std::string& file) {
  const auto all = records(run.folder + "/" + file);
  const auto threads = section(all, "threads");
  const auto queues = section(all, "dispatch_queue_names");
  const auto names = section(all, "thread_names");
  EXPECT_TRUE(threads && queues && names) << run.folder;
  if (!threads || !queues || !names) return {};
  EXPECT_EQ(threads->size(), queues->size());
  EXPECT_EQ(threads->size(), names->size());
  EXPECT_TRUE(section(all, "runtime").has_value());
  EXPECT_TRUE(section(all, "process_stats").has_value());
  const auto storage = section(all, "storage");
  EXPECT_TRUE(storage && storage->contains("free") && storage->contains("total"));
  std::vector<uint64_t> stack;
  int crashed = 0;
  for (const auto& t : *threads) {
    if (!t.value("crashed", false)) continue;
    ++crashed;
    EXPECT_TRUE(t.contains("registers"));
    for (const auto& pc : t["stacktrace"]) stack.push_back(pc.get<uint64_t>());
  }
  EXPECT_EQ(crashed, 1);
  return stack;
}

bool stackHolds(const CrashRun& run, const std::vector<uint64_t>& stack, const std::string& name) {
  for (uint64_t pc : stack)
    if (inSymbol(run, name, pc)) return true;
  return false;
}

std::optional<nlohmann::json> signalSection(const CrashRun& run) {
  return section(records(run.folder + "/signal.crkrecord"), "signal");
}

TEST(CRKSignalCrashTest, ProcessorFaultsAreRecordedAndStillKillTheProcess) {
  struct Case {
    const char* kind;
    int signal;
  } cases[] = {{"null", SIGSEGV}, {"bus", SIGBUS}, {"fpe", SIGFPE}, {"trap", SIGILL},
               {"int3", SIGTRAP}, {"abort", SIGABRT}, {"seccomp", SIGSYS}};
  for (const char* crasher : {CRASH_CRASHER, CRASH_CRASHER_NOFP}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + crasher);
    const CrashRun run = runCrasher(c.kind, {}, nullptr, crasher);
    EXPECT_TRUE(run.killedBy(c.signal));
    const auto sig = signalSection(run);
    ASSERT_TRUE(sig.has_value()) << run.folder;
    EXPECT_EQ((*sig)["number"], c.signal);
    const char* name = nullptr;
    const char* code = nullptr;
    telemetry::CRKSignalNameLookup(c.signal, &name, &code);
    EXPECT_EQ((*sig)["name"], name);
    if (c.signal == SIGABRT) {
      // Sent, not a fault: the sender is recorded and no fault address is made up.
      EXPECT_EQ((*sig)["code"], SI_TKILL) << "sent by abort(), signed";
      EXPECT_FALSE(sig->contains("address")) << sig->dump();
      EXPECT_GT((*sig)["sender_pid"].get<int64_t>(), 0) << sig->dump();
      EXPECT_EQ((*sig)["sender_uid"], getuid()) << sig->dump();
    } else {
      EXPECT_TRUE(sig->contains("address")) << sig->dump();
      EXPECT_FALSE(sig->contains("sender_pid")) << sig->dump();
    }
    const auto stack = checkCrashRecord(run, "signal.crkrecord");
    ASSERT_FALSE(stack.empty());
    EXPECT_TRUE(stackHolds(run, stack, "main")) << c.kind;
    if (std::string(c.kind) == "null") {
      EXPECT_TRUE(inSymbol(run, "crasherNullWrite", stack[0]));
      EXPECT_EQ((*sig)["address"], 0u);
    }
  }
  }
}

TEST(CRKSignalCrashTest, AFailedAssertionLeavesItsText) {
  const CrashRun run = runCrasher("assert");
  EXPECT_TRUE(run.killedBy(SIGABRT));
  const auto runtime = section(records(run.folder + "/signal.crkrecord"), "runtime");
  ASSERT_TRUE(runtime.has_value());
  EXPECT_EQ((*runtime)["objc_selector"], "");
  ASSERT_EQ((*runtime)["crash_info_entries"].size(), 1u);
  std::string hex = (*runtime)["crash_info_entries"][0];
  std::string text;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  EXPECT_NE(text.find("the crasher's assertion"), std::string::npos) << text;
}

TEST(CRKSignalCrashTest, UnboundedRecursionIsCutToTenFramesAndNamed) {
  for (const char* kind : {"recursion", "queue-recursion"}) {
    SCOPED_TRACE(kind);
    const CrashRun run = runCrasher(kind);
    EXPECT_TRUE(run.killedBy(SIGSEGV));
    const auto all = records(run.folder + "/signal.crkrecord");
    const auto threads = section(all, "threads");
    ASSERT_TRUE(threads.has_value()) << run.folder;
    bool found = false;
    for (const auto& t : *threads) {
      if (!t.value("crashed", false)) continue;
      found = true;
      ASSERT_TRUE(t.contains("repeated_pc"));
      const uint64_t repeated = t["repeated_pc"];
      EXPECT_TRUE(inSymbol(run, "crasherRecurse", repeated));
      EXPECT_GE(t["repeat_count"].get<uint64_t>(), 10u);
      int count = 0;
      for (const auto& pc : t["stacktrace"]) count += pc.get<uint64_t>() == repeated;
      EXPECT_EQ(count, 10);
    }
    EXPECT_TRUE(found);
    if (std::string(kind) == "queue-recursion") {
      bool labelled = false;
      const auto labels = section(all, "dispatch_queue_names");
      ASSERT_TRUE(labels.has_value());
      for (const auto& q : *labels) labelled |= q == "org.orrery.crasher.queue";
      EXPECT_TRUE(labelled);
    }
  }
}

TEST(CRKSignalCrashTest, UncaughtExceptionsAreRecordedWithTheirTypeAndText) {
  struct Case {
    const char* kind;
    const char* name;
    const char* reason;
  } cases[] = {{"throw-runtime", "std::runtime_error", "the crasher's runtime error"},
               {"throw-cstr", "const char *", "x"},
               {"throw-int", "int", ""},
               {"thread-throw", "std::logic_error", "thrown on a thread"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    const CrashRun run = runCrasher(c.kind);
    EXPECT_TRUE(run.killedBy(SIGABRT));
    const auto all = records(run.folder + "/exception.crkrecord");
    const auto e = section(all, "exception");
    ASSERT_TRUE(e.has_value()) << run.folder;
    EXPECT_EQ((*e)["type"], "c++");
    EXPECT_EQ((*e)["name"], telemetry::CRKHexEncodeCString(c.name));
    EXPECT_EQ((*e)["reason"], telemetry::CRKHexEncodeCString(c.reason));
    EXPECT_FALSE(e->contains("frames"));
    checkCrashRecord(run, "exception.crkrecord");
    // The abort that follows is recorded too, in its own file, and the other threads
    // answer the second record as they answered the first.
    EXPECT_TRUE(signalSection(run).has_value());
    checkCrashRecord(run, "signal.crkrecord");
    for (const char* file : {"exception.crkrecord", "signal.crkrecord"}) {
      const auto threads = section(records(run.folder + "/" + file), "threads");
      ASSERT_TRUE(threads.has_value());
      EXPECT_GT(threads->size(), 1u);
      for (const auto& t : *threads) EXPECT_TRUE(t.contains("registers")) << file;
    }
  }
}

TEST(CRKSignalCrashTest, AKillFromOutsideIsRecordedAndStillKills) {
  const CrashRun run = runCrasher("kill", {}, [](pid_t pid) { kill(pid, SIGSEGV); });
  EXPECT_TRUE(run.killedBy(SIGSEGV));
  const auto sig = signalSection(run);
  ASSERT_TRUE(sig.has_value());
  EXPECT_EQ((*sig)["code"], SI_USER);
  // A SIGSEGV sent with kill has no fault address: the record names this process as sender.
  EXPECT_FALSE(sig->contains("address")) << sig->dump();
  EXPECT_EQ((*sig)["sender_pid"], getpid()) << sig->dump();
  EXPECT_EQ((*sig)["sender_uid"], getuid()) << sig->dump();
}

TEST(CRKSignalCrashTest, TwoThreadsFaultingAtOnceLeaveOneRecord) {
  const CrashRun run = runCrasher("two-threads");
  EXPECT_TRUE(run.killedBy(SIGSEGV));
  const auto all = records(run.folder + "/signal.crkrecord");
  int signals = 0;
  for (const auto& r : all) signals += r.contains("signal");
  EXPECT_EQ(signals, 1);
  const auto stack = checkCrashRecord(run, "signal.crkrecord");
  ASSERT_FALSE(stack.empty());
  EXPECT_TRUE(inSymbol(run, "crasherNullWrite", stack[0]));
  // The other faulting thread handed in its registers: its stack starts at the fault too.
  int atFault = 0;
  const auto threads = section(all, "threads");
  ASSERT_TRUE(threads.has_value());
  for (const auto& t : *threads)
    if (!t["stacktrace"].empty() && inSymbol(run, "crasherNullWrite", t["stacktrace"][0])) ++atFault;
  EXPECT_EQ(atFault, 2);
}

TEST(CRKSignalCrashTest, APriorHandlerRunsAfterTheRecord) {
  const CrashRun run = runCrasher("prior");
  EXPECT_TRUE(run.exitedWith(42));
  checkCrashRecord(run, "signal.crkrecord");
}

TEST(CRKSignalCrashTest, ACrashInALoadedPluginNamesItsImage) {
  const CrashRun run = runCrasher("plugin", {CRASH_TEST_LIBRARY});
  EXPECT_TRUE(run.killedBy(SIGSEGV));
  checkCrashRecord(run, "signal.crkrecord");
  bool loaded = false;
  for (const auto& r : records(run.folder + "/binary_images.crkrecord")) {
    if (r.contains("load") && r["load"]["path"].is_string() &&
        r["load"]["path"].get<std::string>().find("crash_test_library") != std::string::npos)
      loaded = true;
  }
  EXPECT_TRUE(loaded);
}

TEST(CRKSignalCrashTest, ParkedThreadsAreRecordedInTheirParkAndABlockedOneWithoutRegisters) {
  for (bool block : {false, true}) {
    SCOPED_TRACE(block);
    const CrashRun run = runCrasher("parked", block ? std::vector<std::string>{"block"} : std::vector<std::string>{});
    EXPECT_TRUE(run.killedBy(SIGSEGV));
    checkCrashRecord(run, "signal.crkrecord");
    const auto all = records(run.folder + "/signal.crkrecord");
    // The recording thread waits 200 ms in all for the answers: on a loaded machine a
    // parked thread may miss that, and is then listed without registers like the deaf one.
    int parked = 0, answered = 0, deaf = 0;
    const auto threads = section(all, "threads");
    const auto names = section(all, "thread_names");
    ASSERT_TRUE(threads.has_value() && names.has_value());
    for (size_t i = 0; i < threads->size(); ++i) {
      const auto& t = (*threads)[i];
      if (!t.contains("registers")) {
        EXPECT_TRUE(t["stacktrace"].empty());
      }
      if ((*names)[i] == "deaf") {
        ++deaf;
        EXPECT_FALSE(t.contains("registers"));
      }
      if ((*names)[i] != "parked") continue;
      ++parked;
      if (!t.contains("registers")) continue;
      ++answered;
      std::vector<uint64_t> stack;
      for (const auto& pc : t["stacktrace"]) stack.push_back(pc);
      EXPECT_TRUE(stackHolds(run, stack, "crasherParkThread"));
    }
    EXPECT_EQ(parked, block ? 63 : 64);
    EXPECT_GE(answered, parked * 9 / 10);
    EXPECT_EQ(deaf, block ? 1 : 0);
  }
}

TEST(CRKSignalCrashTest, ACrashWhileAnotherThreadLogsKeepsEveryLogLineWhole) {
  const CrashRun run = runCrasher("logging");
  EXPECT_TRUE(run.killedBy(SIGSEGV));
  checkCrashRecord(run, "signal.crkrecord");
  const auto lines = records(run.folder + "/log_a.crkrecord");
  EXPECT_GE(lines.size(), 20u);
}

TEST(CRKSignalCrashTest, CompactionKilledAtAnyMomentNeverLosesACompletedWrite) {
  std::string folder;
  long next = 0;
  std::map<int, long> lastDone;
  for (int round = 0; round < 50; ++round) {
    static int stopAfter;
    stopAfter = 5 + (round * 37) % 90;
    CrashRun run;
    // A fresh child continues the numbering where the previous one was killed.
    {
      int pipeFds[2];
      ASSERT_EQ(pipe(pipeFds), 0);
      if (folder.empty()) folder = crashtest::makeFolder("compact");
      const pid_t pid = fork();
      if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        const std::string start = std::to_string(next);
        execl(CRASH_CRASHER, CRASH_CRASHER, folder.c_str(), "compact", start.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      close(pipeFds[1]);
      FILE* in = fdopen(pipeFds[0], "r");
      char line[64];
      int seen = 0;
      while (fgets(line, sizeof line, in)) {
        long done = 0;
        if (std::sscanf(line, "DONE %ld", &done) != 1) continue;
        lastDone[static_cast<int>(done % 8)] = done;
        next = done + 1;
        if (++seen == stopAfter) kill(pid, SIGKILL);
      }
      fclose(in);
      waitpid(pid, &run.status, 0);
    }
  }
  // Read the store back the way the next launch does.
  std::map<std::string, std::string> pairs;
  for (const char* name : {"user_compacted_kv.crkrecord", "user_incremental_kv.crkrecord"}) {
    auto all = telemetry::CRKFileReadSections((folder + "/" + name).c_str(), false);
    if (!all) continue;
    for (const auto& r : *all) {
      if (r["kv"]["value"].is_string())
        pairs[r["kv"]["key"]] = r["kv"]["value"];
      else
        pairs.erase(r["kv"]["key"].get<std::string>());
    }
  }
  for (const auto& [k, done] : lastDone) {
    const std::string key = telemetry::CRKHexEncodeCString(("k" + std::to_string(k)).c_str());
    ASSERT_TRUE(pairs.count(key)) << k;
    std::string hex = pairs[key], text;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    EXPECT_GE(std::stol(text), done) << "key k" << k;
  }
}

// The crashed thread's recorded stack against gdb's on a core of the same crash (ASLR off,
// so both runs place the code alike): from the first recorded frame gdb also shows, every
// frame down to main matches.
void compareCrashWithGdb(const char* crasher, const std::string& kind, const std::string& file) {
  SCOPED_TRACE(kind + " " + crasher);
  const std::string folder = crashtest::makeFolder("crash-gdb-" + kind);
  const std::string pattern = crashtest::readText("/proc/sys/kernel/core_pattern");
  const bool kernelCore = !pattern.empty() && pattern[0] != '|' && pattern[0] != '/';
  crashtest::run("cd '" + folder + "' && CRASHER_CORE=1 setarch $(uname -m) -R '" + crasher + "' '" + folder + "' " +
                 kind + " >/dev/null 2>&1");
  CrashRun run;
  run.folder = folder;
  const std::vector<uint64_t> stack = checkCrashRecord(run, file);
  ASSERT_FALSE(stack.empty());
  std::string core = kernelCore ? crashtest::findCore(folder) : "";
  if (core.empty()) {
    // Under gdb the kit installs nothing; the core is cut at the same fault.
    core = folder + "/gdb.core";
    const std::string other = crashtest::makeFolder("crash-gdb-run");
    crashtest::run("cd '" + other + "' && timeout 120 gdb -batch -nx -ex 'set disable-randomization on' -ex run "
                   "-ex 'generate-core-file " + core + "' --args '" + crasher + "' '" + other + "' " + kind +
                   " >/dev/null 2>&1");
  }
  ASSERT_FALSE(crashtest::readText(core).empty()) << "no core in " << folder;
  const std::vector<uint64_t> expected = crashtest::gdbFrames(crashtest::run(
      "timeout 120 gdb -batch -nx -x '" + std::string(CRASH_GDB_SCRIPT) + "' '" + crasher + "' '" + core + "' 2>/dev/null"));
  ASSERT_GE(expected.size(), 2u);
  // The core may hold more frames above the recorded ones (our handler sending the signal
  // again), some at the same pcs: take the first alignment whose whole tail matches.
  auto tailMatches = [&](size_t ours, size_t theirs) {
    if (expected.size() - theirs < 2 || stack.size() - ours < expected.size() - theirs) return false;
    for (size_t i = 0; theirs + i < expected.size(); ++i)
      if (stack[ours + i] != expected[theirs + i]) return false;
    return true;
  };
  // Signals: the record starts at the interrupted frame itself.
  const size_t lastStart = file == "signal.crkrecord" ? 1 : stack.size();
  bool matched = false;
  for (size_t ours = 0; ours < lastStart && !matched; ++ours)
    for (size_t theirs = 0; theirs < expected.size() && !matched; ++theirs) matched = tailMatches(ours, theirs);
  std::string listing = "recorded:";
  for (uint64_t pc : stack) listing += " " + std::to_string(pc);
  listing += "\ngdb:";
  for (uint64_t pc : expected) listing += " " + std::to_string(pc);
  EXPECT_TRUE(matched) << listing;
}

}  // namespace

void compareEveryKindWithGdb(const char* crasher) {
  ASSERT_TRUE(testsupport::requireTool("gdb", "gdb"));
  ASSERT_TRUE(testsupport::requireTool("setarch", "util-linux"));
  for (const char* kind : {"null", "bus", "fpe", "trap", "int3", "abort", "seccomp"})
    compareCrashWithGdb(crasher, kind, "signal.crkrecord");
  for (const char* kind : {"throw-runtime", "throw-cstr"}) compareCrashWithGdb(crasher, kind, "exception.crkrecord");
}

TEST(CRKSignalGdbTest, WithFramePointersTheCrashedStackIsGdbsDownToMain) { compareEveryKindWithGdb(CRASH_CRASHER); }
TEST(CRKSignalGdbTest, WithoutFramePointersTheCrashedStackIsGdbsDownToMain) {
  compareEveryKindWithGdb(CRASH_CRASHER_NOFP);
}

extern "C" __attribute__((visibility("default"), noinline)) void crashTestForeignBusHandler(int) {}

TEST(CRKSignalHandlersTest, AForeignHandlerIsNamedByTheCheck) {
  crashtest::contextReportFolder();
  struct sigaction foreign {}, saved {};
  foreign.sa_handler = crashTestForeignBusHandler;
  sigemptyset(&foreign.sa_mask);
  ASSERT_EQ(sigaction(SIGBUS, &foreign, &saved), 0);
  testing::internal::CaptureStderr();
  telemetry::CRKSignalCheckHandlers();
  const std::string printed = testing::internal::GetCapturedStderr();
  sigaction(SIGBUS, &saved, nullptr);
  EXPECT_EQ(printed,
            "[CrashKit] The signal SIGBUS has a non-CrashKit handler (crashTestForeignBusHandler).  This will "
            "interfere with reporting.\n");
}

TEST(CRKSignalHandlersTest, UnderATracerNothingIsInstalledAndTheFaultIsTheTracers) {
  ASSERT_TRUE(testsupport::requireTool("gdb", "gdb"));
  const std::string folder = crashtest::makeFolder("crash-traced");
  const std::string output =
      crashtest::run("timeout 120 gdb -batch -nx -ex run -ex 'info signals SIGSEGV' --args '" + std::string(CRASH_CRASHER) +
                     "' '" + folder + "' null 2>&1");
  EXPECT_NE(output.find("SIGSEGV"), std::string::npos) << output;
  EXPECT_NE(crashtest::readText(folder + "/sdk.log").find("Debugger present - not installing handlers"),
            std::string::npos);
  EXPECT_TRUE(crashtest::readText(folder + "/signal.crkrecord").empty());
}

TEST(ChildEnds, FailuresSayWhatWasExpectedAndWhatWasFound) {
  const int exitedThree = W_EXITCODE(3, 0);
  const int segfaulted = SIGSEGV;  // a wait status of a child the signal ended
  EXPECT_TRUE(crashtest::killedBy(segfaulted, SIGSEGV));
  EXPECT_TRUE(crashtest::exitedWith(exitedThree, 3));
  EXPECT_EQ(std::string(crashtest::killedBy(exitedThree, SIGSEGV).message()),
            "expected the child to be killed by SIGSEGV (11), found it exited with 3");
  EXPECT_EQ(std::string(crashtest::exitedWith(segfaulted, 0, {{3, "no record"}}).message()),
            "expected the child to exit with 0, found it killed by SIGSEGV (11)");
  EXPECT_EQ(crashtest::describeEnd(exitedThree, {{3, "no record"}}), "exited with 3 (no record)");
}
