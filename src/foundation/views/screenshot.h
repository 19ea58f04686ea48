#pragma once
// A picture of a view as it is on screen now, hosted native controls included, one pixel
// per point and upright: what blurred covers are made from. Main thread only.

#include "foundation/kit_image.h"

namespace platform {
class View;
}

namespace orrery {

// No picture for a view with an empty size.
KitImage kitImageByCapturingScreenshot(platform::View& view);

}  // namespace orrery
