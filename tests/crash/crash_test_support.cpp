#include "crash_test_support.h"

#include <dirent.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "crash/crk_context.h"

namespace crashtest {

std::string makeFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  const char* made = mkdtemp(buffer.data());
  return made ? std::string(made) : std::string();
}

const std::string& contextReportFolder() {
  static std::string folder;
  static std::once_flag once;
  std::call_once(once, [] {
    folder = makeFolder("crash-report");
    telemetry::CRKContextInitData data;
    data.apiKey = "0123456789abcdef";
    data.reportPath = folder.c_str();
    data.sessionId = "session-1";
    data.installId = "install-1";
    data.maxCustomKeys = 64;
    data.logBufferSize = 65536;
    telemetry::CRKContextInitialize(&data);
  });
  return folder;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readText(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  pclose(pipe);
  return out;
}

std::vector<uint64_t> gdbFrames(const std::string& output) {
  std::vector<uint64_t> pcs;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("PC 0x", 0) == 0) pcs.push_back(std::stoull(line.substr(3), nullptr, 16));
  return pcs;
}

std::string findCore(const std::string& folder) {
  std::string found;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name).rfind("core", 0) == 0) found = folder + "/" + e->d_name;
    closedir(d);
  }
  return found;
}

void leaveEarlierCrash(const std::string& activeFolder, const std::string& sessionId, const std::string& apiKey,
                       uint64_t startedAt) {
  const std::string folder = activeFolder + "/" + sessionId;
  mkdir(folder.c_str(), 0755);
  std::ofstream(folder + "/metadata.crkrecord") << R"({"identity":{"session_id":")" << sessionId
                                                << R"(","api_key":")" << apiKey << R"(","started_at":)" << startedAt
                                                << "}}\n";
  std::ofstream(folder + "/signal.crkrecord") << R"({"threads":[]})" << "\n";
}

namespace {
std::string signalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : "signal";
}
}  // namespace

std::string describeEnd(int waitStatus, const ExitMeanings& meanings) {
  if (WIFEXITED(waitStatus)) {
    const int code = WEXITSTATUS(waitStatus);
    const auto meaning = meanings.find(code);
    return "exited with " + std::to_string(code) + (meaning != meanings.end() ? " (" + meaning->second + ")" : "");
  }
  if (WIFSIGNALED(waitStatus)) {
    const int signal = WTERMSIG(waitStatus);
    return "killed by " + signalName(signal) + " (" + std::to_string(signal) + ")" +
           (WCOREDUMP(waitStatus) ? ", core dumped" : "");
  }
  return "wait status " + std::to_string(waitStatus);
}

::testing::AssertionResult exitedWith(int waitStatus, int code, const ExitMeanings& meanings) {
  if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == code) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected the child to exit with " << code << ", found it "
                                       << describeEnd(waitStatus, meanings);
}

::testing::AssertionResult killedBy(int waitStatus, int signal) {
  if (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == signal) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected the child to be killed by " << signalName(signal) << " ("
                                       << signal << "), found it " << describeEnd(waitStatus);
}

}  // namespace crashtest
