#pragma once
// What the idea edit popover asks of each of its tabs.

namespace orrery {

class EditIdeaViewController;

class EditIdeaViewSubordinate {
 public:
  virtual ~EditIdeaViewSubordinate() = default;
  // Fills the tab from the panel's selected values; isInitialLoad when the tab was just made or
  // the panel is being presented.
  virtual void reloadFrom(const EditIdeaViewController& controller, bool isInitialLoad) = 0;
  virtual void activate() = 0;
  virtual void deactivate() = 0;
  virtual double currentPreferredHeight() const = 0;
};

}  // namespace orrery
