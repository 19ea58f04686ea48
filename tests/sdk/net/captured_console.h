#pragma once
// Collects the SDK's console lines while it lives, so tests can look for the texts the SDK
// must write.

#include "sdk/core/console.h"

#include <mutex>
#include <string>
#include <vector>

namespace telemetry::test {

class CapturedConsole {
 public:
  CapturedConsole() {
    mPrevious = setConsoleSink([this](const std::string& line) {
      std::lock_guard lock(mMutex);
      mLines.push_back(line);
    });
  }
  ~CapturedConsole() { setConsoleSink(mPrevious); }
  CapturedConsole(const CapturedConsole&) = delete;
  CapturedConsole& operator=(const CapturedConsole&) = delete;

  std::vector<std::string> lines() {
    std::lock_guard lock(mMutex);
    return mLines;
  }
  bool contains(const std::string& text) {
    std::lock_guard lock(mMutex);
    for (const auto& line : mLines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  std::mutex mMutex;
  std::vector<std::string> mLines;
  ConsoleSink mPrevious;
};

}  // namespace telemetry::test
