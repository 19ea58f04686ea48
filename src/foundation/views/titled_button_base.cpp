#include "foundation/views/titled_button_base.h"

#include "foundation/views/view_extensions.h"
#include "platform/ui/attributed_string.h"

namespace orrery {

TitledButtonBase::TitledButtonBase() : mButtonLabel(std::make_shared<TextLabel>()) { addSubview(mButtonLabel); }

void TitledButtonBase::setToggled(bool toggled) {
  ++mOperationCount;
  if (toggled == mToggled) return;
  mToggled = toggled;
  updateView();
}

void TitledButtonBase::applyLayout() {
  viewext::setCenter(*mButtonLabel, viewext::centerPoint(*this));
  viewext::ensureIntegralFrame(*mButtonLabel);
}

void TitledButtonBase::setTitle(const QString& title, const QFont& font, double kern) {
  platform::TextAttributes attributes;
  attributes.font = font;
  if (kern != 0) attributes.kern = kern;
  mButtonLabel->setFont(font);
  mButtonLabel->setAttributedText(platform::AttributedString(title, attributes));
  mButtonLabel->sizeToFit();
  forceDirtyLayout();
}

void TitledButtonBase::sizeToFitHeight(double height) {
  setFrameSize(QSizeF(mButtonLabel->frame().width() + 20, height));
  applyLayout();
}

}  // namespace orrery
