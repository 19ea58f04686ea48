#pragma once
// What the drawn text buttons share: a title label centred in the button, a toggled
// (highlighted) look, an operation counter that setToggled raises so that a pending press
// report is dropped, and the user-interaction switch. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/text_label.h"
#include "foundation/views/user_interaction_protocol.h"

#include <cstdint>

namespace orrery {

class TitledButtonBase : public BaseView, public UserInteractionProtocol {
 public:
  TitledButtonBase();

  bool toggled() const { return mToggled; }
  void setToggled(bool toggled);
  void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
  const std::shared_ptr<TextLabel>& buttonLabel() const { return mButtonLabel; }

  // The label's centre at the button's centre, on whole points.
  void applyLayout() override;
  // Sets the label's colour for the current look and marks the button for display.
  virtual void updateView() = 0;

 protected:
  // The title in `font` (kerning `kern` points, 0 for none); the label fits it.
  void setTitle(const QString& title, const QFont& font, double kern);
  // Frame size := (label width + 20, height), origin kept; then lays out.
  void sizeToFitHeight(double height);

  std::shared_ptr<TextLabel> mButtonLabel;
  bool mUserInteractionEnabled = true;
  bool mToggled = false;
  std::int64_t mOperationCount = 0;
};

}  // namespace orrery
