#pragma once
// The content view of the program's windows: hosts the current screen controller's view
// over its whole bounds, and can hold a hidden design overlay (the example view).

#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"

namespace orrery {

// The named image at its own size in the top-left corner, half transparent.
class ExampleView : public BaseImageView {
 public:
  explicit ExampleView(const QString& imageName);
};

class ContainerView : public BaseView {
 public:
  ContainerView();
  // Also holds a hidden example view of the named image ("example_welcome", "example_about").
  explicit ContainerView(const QString& namedView);

  const std::shared_ptr<ExampleView>& exampleView() const { return mExampleView; }

  void applyLayout() override;
  bool acceptsFirstResponder() const override { return false; }

 protected:
  // An empty hook both initialisers reach.
  virtual void initializeContainerView() {}

 private:
  std::shared_ptr<ExampleView> mExampleView;
};

}  // namespace orrery
