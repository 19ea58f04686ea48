#include "foundation/views/screenshot.h"

#include "platform/ui/view.h"

namespace orrery {

KitImage kitImageByCapturingScreenshot(platform::View& view) {
  if (view.bounds().isEmpty()) return {};
  view.layoutSubtreeIfNeeded();
  return KitImage(view.snapshot(1.0));
}

}  // namespace orrery
