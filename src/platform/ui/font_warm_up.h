#pragma once
// Loading the font database (reading the font configuration and listing the fonts) takes a
// good part of a start; the first window's text needs it only when that window draws. A
// warm-up loads it on a thread of its own meanwhile, so the main thread finds it loaded, or
// waits only for the rest. Made after the application object, ended before it.

#include <thread>

namespace platform {

class FontDatabaseWarmUp {
 public:
  FontDatabaseWarmUp();
  ~FontDatabaseWarmUp();
  FontDatabaseWarmUp(const FontDatabaseWarmUp&) = delete;
  FontDatabaseWarmUp& operator=(const FontDatabaseWarmUp&) = delete;

 private:
  std::thread mThread;
};

}  // namespace platform
