#pragma once
// A row of overlapping rounded pills of which one is selected (the colour tab's palette and
// child-colouring choices). A press flips the pill at once and tells the selector, which
// makes that pill the only selected one and tells its delegate. With fewer than two pills
// none is shown selected. Main thread only.

#include "foundation/views/titled_button_base.h"

#include <cstdint>
#include <vector>

namespace orrery {

class HorizontalSelector;
class HorizontalSelectorButton;

class HorizontalSelectorButtonDelegate : public virtual platform::Trackable {
 public:
  virtual void selectorButtonPressed(HorizontalSelectorButton& /*button*/) {}
};

class HorizontalSelectorDelegate : public virtual platform::Trackable {
 public:
  virtual void horizontalSelectorSelectedElementAtIndex(HorizontalSelector& /*selector*/, std::int64_t /*index*/) {}
};

class HorizontalSelectorButton : public TitledButtonBase {
 public:
  explicit HorizontalSelectorButton(HorizontalSelectorButtonDelegate* delegate);

  void setButtonTitle(const QString& title);
  void sizeToFit() { sizeToFitHeight(28.0); }

  void updateView() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  void mouseDown(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;

 private:
  platform::WeakRef<HorizontalSelectorButtonDelegate> mDelegate;
};

class HorizontalSelector : public BaseView, public HorizontalSelectorButtonDelegate {
 public:
  HorizontalSelector();

  void addElement(const QString& title);
  void reset();
  std::int64_t numElements() const { return static_cast<std::int64_t>(mElements.size()); }
  const std::vector<std::shared_ptr<HorizontalSelectorButton>>& elements() const { return mElements; }
  // An index outside the elements is a soft assertion and changes nothing.
  void selectElement(std::int64_t index);
  void selectorButtonPressed(HorizontalSelectorButton& button) override;

  // Layout: pills of columnVisibleWidth, neighbours overlapping by about 24 points.
  double columnVisibleWidth() const;
  double centerForColumn(std::int64_t index) const;
  // -1 for a button that is not an element.
  std::int64_t elementIndexFor(const HorizontalSelectorButton& button) const;
  void layoutMyButton(HorizontalSelectorButton& button);
  void applyLayout() override;

  HorizontalSelectorDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(HorizontalSelectorDelegate* delegate) { mDelegate.reset(delegate); }

 private:
  std::vector<std::shared_ptr<HorizontalSelectorButton>> mElements;
  platform::WeakRef<HorizontalSelectorDelegate> mDelegate;
};

}  // namespace orrery
