#pragma once
// The icon catalogue draws its pictures on a background queue once it is first used; a test
// that used it waits for every picture, so no drawing is still running when the process ends.

#include "ui_test_env.h"

#include "model/icon_image_collection.h"

#include <chrono>
#include <memory>
#include <thread>

inline void waitForIconPictures() {
  auto done = std::make_shared<bool>(false);
  orrery::IconImageCollection::instance().preRenderImages([done] { *done = true; });
  // The drawing runs on a real thread: give it real time between turns of the main queue.
  for (int i = 0; i < 20000 && !*done; ++i) {
    uitest::advance(0);
    if (!*done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
