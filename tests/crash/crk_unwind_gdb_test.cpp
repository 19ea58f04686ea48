// The probe programs unwind themselves at a known depth and die with a core dump; gdb
// reading that core must show the same frames.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crash_test_support.h"
#include "support/required_tool.h"

namespace {

struct ProbeFrame {
  uint64_t pc = 0;
  std::string symbol;
};

std::vector<ProbeFrame> probeFrames(const std::string& output) {
  std::vector<ProbeFrame> frames;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("FRAME ", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    ProbeFrame f;
    std::string pc;
    fields >> pc >> f.symbol;
    f.pc = std::stoull(pc, nullptr, 16);
    frames.push_back(f);
  }
  return frames;
}

void compareWithGdb(const std::string& probe) {
  ASSERT_TRUE(testsupport::requireTool("gdb", "gdb"));
  ASSERT_TRUE(testsupport::requireTool("setarch", "util-linux"));
  const std::string folder = crashtest::makeFolder("probe");
  const std::string pattern = crashtest::readText("/proc/sys/kernel/core_pattern");
  // A core the kernel writes into the current folder, or one gdb cuts at the fault.
  const bool kernelCore = !pattern.empty() && pattern[0] != '|' && pattern[0] != '/';
  const std::string run = "cd '" + folder + "' && setarch $(uname -m) -R '" + probe + "' '" + folder + "' 2>/dev/null";
  const std::string output = crashtest::run(run);
  const std::vector<ProbeFrame> frames = probeFrames(output);
  std::string core = kernelCore ? crashtest::findCore(folder) : "";
  if (core.empty()) {
    core = folder + "/gdb.core";
    crashtest::run("cd '" + folder + "' && timeout 120 gdb -batch -nx -ex 'set disable-randomization on' -ex run "
                   "-ex 'generate-core-file " + core + "' --args '" + probe + "' '" + folder + "' >/dev/null 2>&1");
  }
  ASSERT_FALSE(crashtest::readText(core).empty()) << "no core dump in " << folder << " (core_pattern " << pattern << ")";
  const std::string gdbOutput = crashtest::run("timeout 120 gdb -batch -nx -x '" + std::string(CRASH_GDB_SCRIPT) +
                                               "' '" + probe + "' '" + core + "' 2>/dev/null");
  const std::vector<uint64_t> expected = crashtest::gdbFrames(gdbOutput);

  // The probe's own walk: the whole known chain, innermost first.
  std::string symbols;
  for (const auto& f : frames) symbols += f.symbol + "\n";
  const char* chain[] = {"probe_leaf_store", "withAlloca", "libraryCallback", "crash_test_library_call", "compareInts",
                         "runProbe", "main"};
  size_t at = 0;
  for (const char* name : chain) {
    const size_t found = symbols.find(std::string(name) + "\n", at);
    ASSERT_NE(found, std::string::npos) << name << " missing or out of order in:\n" << symbols;
    at = found;
  }
  ASSERT_GE(frames.size(), 12u) << symbols;

  // gdb stops at main; every frame it shows must be ours, in the same place.
  ASSERT_GE(expected.size(), 12u) << gdbOutput;
  ASSERT_GE(frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(frames[i].pc, expected[i]) << "frame " << i << " (" << frames[i].symbol << ")\n" << symbols;
  }
}

TEST(CRKUnwindGdbTest, AProbeWithFramePointersUnwindsLikeGdb) { compareWithGdb(CRASH_PROBE_FP); }
TEST(CRKUnwindGdbTest, AProbeWithoutFramePointersUnwindsLikeGdb) { compareWithGdb(CRASH_PROBE_NOFP); }

}  // namespace
