#pragma once
// The small black-hole drop area onto which an idea is dragged to be deleted. It only shows
// its picture; the window's drag machinery treats its frame as a drop target.

#include "foundation/views/base_image_view.h"

namespace orrery {

class DeleteAreaView : public BaseImageView {
 public:
  static constexpr double kSide = 40.0;
  DeleteAreaView();
};

}  // namespace orrery
