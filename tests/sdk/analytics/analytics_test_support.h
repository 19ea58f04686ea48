#pragma once
// Shared pieces of the analytics tests: a fresh folder per test, Python 3 as an independent
// reader of what the SDK writes, and the console lines the SDK wrote meanwhile.

#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "sdk/core/console.h"
#include "sdk/core/standard_paths.h"
#include "support/required_tool.h"

namespace telemetry::test {

// A new empty folder under the test's temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string templ = paths::join(paths::temporaryDirectory(), "analytics-XXXXXX");
    mPath = ::mkdtemp(templ.data()) ? templ : std::string();
  }
  ~ScratchFolder() {
    if (!mPath.empty()) (void)std::system(("chmod -R u+rwx '" + mPath + "'; rm -rf '" + mPath + "'").c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return mPath; }
  std::string operator/(const std::string& name) const { return mPath + "/" + name; }

 private:
  std::string mPath;
};

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Collects the SDK's console lines while it lives.
class ConsoleLines {
 public:
  ConsoleLines() {
    mPrevious = setConsoleSink([this](const std::string& line) {
      std::lock_guard lock(mMutex);
      mLines.push_back(line);
    });
  }
  ~ConsoleLines() { setConsoleSink(mPrevious); }
  ConsoleLines(const ConsoleLines&) = delete;
  ConsoleLines& operator=(const ConsoleLines&) = delete;
  std::vector<std::string> lines() {
    std::lock_guard lock(mMutex);
    return mLines;
  }
  int count(const std::string& text) {
    int n = 0;
    for (const auto& line : lines())
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }

 private:
  std::mutex mMutex;
  std::vector<std::string> mLines;
  ConsoleSink mPrevious;
};

// How a child process runs a stage that must fail.
struct ChildLimits {
  rlim_t fileSizeLimit = RLIM_INFINITY;  // RLIMIT_FSIZE
  bool killedByLimit = false;            // SIGXFSZ kills instead of failing the write
  bool withoutPrivileges = false;        // drops every capability, so file modes bind root too
};

inline constexpr int kChildCannotDropPrivileges = 77;

// Runs `body` in a forked child under the limits; answers the wait status (exit 0 when the
// body answered true, 1 when false).
inline int runInChild(const ChildLimits& limits, const std::function<bool()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, limits.killedByLimit ? SIG_DFL : SIG_IGN);
    if (limits.withoutPrivileges) {
      __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
      __user_cap_data_struct data[2] = {};
      if (::syscall(SYS_capset, &header, data) != 0) ::_exit(kChildCannotDropPrivileges);
    }
    rlimit r{limits.fileSizeLimit, limits.fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// The start of a Python 3 reader of the bodies a test server kept (tests/support's
// "<n>.bin" beside its "<n>.ct" content type): `received_bodies(folder)` yields each body's
// file name, content type and MIME message, in name order.
inline const char* const kReceivedBodiesPython = R"PY(
import email, gzip, json, os, sys
def received_bodies(folder):
    for name in sorted(os.listdir(folder)):
        if not name.endswith('.bin'): continue
        raw = open(os.path.join(folder, name), 'rb').read()
        ctype = open(os.path.join(folder, name[:-4] + '.ct')).read()
        yield name, ctype, email.message_from_bytes(b'Content-Type: ' + ctype.encode() + b'\r\n\r\n' + raw)
)PY";

// Runs a Python 3 script with the given arguments and answers what it printed.
inline std::string runPython(const std::string& script, const std::vector<std::string>& args = {}) {
  if (!testsupport::requireTool("python3", "python3")) return std::string();
  static int counter = 0;
  std::string file = paths::join(paths::temporaryDirectory(), "analytics-check-" + std::to_string(::getpid()) + "-" +
                                                                  std::to_string(++counter) + ".py");
  writeText(file, script);
  std::string command = "python3 '" + file + "'";
  for (const auto& a : args) command += " '" + a + "'";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  ::unlink(file.c_str());
  return out;
}

}  // namespace telemetry::test
