#pragma once
// Helpers of the crash tests: a report folder per test process and the one crash context
// of the process, made on first use (the context lives for the process by design; tests
// of the state before it exists run in a child process).

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace crashtest {

// Death tests of this suite re-run the test binary ("threadsafe"), so the child starts from
// a clean process; the style before is put back.
class DeathStyle {
 public:
  DeathStyle() : mStyle(GTEST_FLAG_GET(death_test_style)) { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  ~DeathStyle() { GTEST_FLAG_SET(death_test_style, mStyle); }

 private:
  std::string mStyle;
};

// A fresh folder under the test temporary folder.
std::string makeFolder(const std::string& name);
// Initializes the process's crash context once, with its report folder; answers the folder.
const std::string& contextReportFolder();
std::string readText(const std::string& path);
std::vector<std::string> readLines(const std::string& path);
// Runs a shell command, answering its standard output.
std::string run(const std::string& command);
// The pcs of gdb_frames.py's "PC 0x…" lines, innermost first.
std::vector<uint64_t> gdbFrames(const std::string& output);
// A kernel core file ("core…") in the folder, or "".
std::string findCore(const std::string& folder);

// Leaves what a crashed earlier run leaves in the active folder: a report folder named by
// its session, with metadata (session, API key, start time) and an empty signal record.
void leaveEarlierCrash(const std::string& activeFolder, const std::string& sessionId, const std::string& apiKey,
                       uint64_t startedAt);

// How a child process ended, in words: "exited with 3 (the tracer was not seen)",
// "killed by SIGSEGV (11)". `meanings` names the child's own exit codes.
using ExitMeanings = std::map<int, std::string>;
std::string describeEnd(int waitStatus, const ExitMeanings& meanings = {});
// Whether a child ended as expected; a failure says what was expected and what was found.
::testing::AssertionResult exitedWith(int waitStatus, int code, const ExitMeanings& meanings = {});
::testing::AssertionResult killedBy(int waitStatus, int signal);

}  // namespace crashtest
