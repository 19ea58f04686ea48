#pragma once
// What a control offers to switch its handling of the mouse off and on (buttons, the radial
// view): while off, presses and releases change nothing and report nothing.

namespace orrery {

class UserInteractionProtocol {
 public:
  virtual ~UserInteractionProtocol() = default;
  virtual void setUserInteractionEnabled(bool enabled) = 0;
  virtual bool userInteractionEnabled() const = 0;
};

}  // namespace orrery
