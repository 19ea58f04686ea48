#pragma once
// Checks inside a child process (a re-executed death-test child): each failure is printed,
// and the exit code says whether there were any.

#include <cstdlib>
#include <iostream>
#include <string>

namespace testsupport {

struct ChildChecks {
  int failures = 0;
  void expect(bool condition, const std::string& what) {
    if (condition) return;
    ++failures;
    std::cerr << "check failed: " << what << std::endl;
  }
  [[noreturn]] void exit() {
    std::cerr.flush();
    std::_Exit(failures == 0 ? 0 : 1);
  }
};

}  // namespace testsupport
