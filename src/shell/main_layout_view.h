#pragma once
// A white view that stacks a top bar over a content view: the bar at the top at its own
// height, the content filling the rest (all of it without a bar). Main thread only.

#include "foundation/views/colored_view.h"

#include <memory>

namespace orrery {

class MainLayoutView : public ColoredView {
 public:
  MainLayoutView();

  const std::shared_ptr<platform::View>& topBar() const { return mTopBar; }
  // A different bar replaces the current one; null only removes it.
  void setTopBar(std::shared_ptr<platform::View> bar);
  const std::shared_ptr<platform::View>& contentView() const { return mContentView; }
  // As setTopBar, then lays out at once.
  void setContentView(std::shared_ptr<platform::View> view);

  void applyLayout() override;

 private:
  std::shared_ptr<platform::View> mTopBar;
  std::shared_ptr<platform::View> mContentView;
};

}  // namespace orrery
