#include "crash_test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
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

}  // namespace crashtest
