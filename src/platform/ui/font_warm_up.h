#pragma once
// Loading the font database takes a good part of a start; the first window's text needs it
// only when that window draws. Most of it is reading the system's font configuration
// (fontconfig's files and caches), which needs no application object: that read starts before
// the application object is made, so it overlaps the GUI's own start, and Qt's database is
// loaded on top of it once the application exists. The main thread then finds the fonts
// loaded, or waits only for the rest.

#include <mutex>
#include <thread>

namespace platform {

// Made before the application object; reads the font configuration on a thread of its own.
class FontConfigurationWarmUp {
 public:
  FontConfigurationWarmUp();
  ~FontConfigurationWarmUp();
  FontConfigurationWarmUp(const FontConfigurationWarmUp&) = delete;
  FontConfigurationWarmUp& operator=(const FontConfigurationWarmUp&) = delete;

  // Returns once the configuration is read; from any thread, any number of times.
  void wait();

 private:
  std::once_flag mJoined;
  std::thread mThread;
};

// Made after the application object, ended before it: loads Qt's font database on a thread
// of its own once `configuration` is read, so the configuration is never read twice at once.
class FontDatabaseWarmUp {
 public:
  explicit FontDatabaseWarmUp(FontConfigurationWarmUp& configuration);
  ~FontDatabaseWarmUp();
  FontDatabaseWarmUp(const FontDatabaseWarmUp&) = delete;
  FontDatabaseWarmUp& operator=(const FontDatabaseWarmUp&) = delete;

 private:
  std::thread mThread;
};

}  // namespace platform
