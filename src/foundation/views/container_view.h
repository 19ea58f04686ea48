#pragma once
// The content view of the program's windows: hosts the current screen controller's view
// over its whole bounds, and can hold a hidden design overlay (the example view).

#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"

#include <functional>
#include <memory>
#include <utility>

namespace orrery {

// The named image at its own size in the top-left corner, half transparent.
class ExampleView : public BaseImageView {
 public:
  explicit ExampleView(const QString& imageName);
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  // The view stays hidden: its picture is read only should it ever be drawn.
  std::function<QImage()> mReadImage;
};

// Made only through create(), which constructs and then initialises: a constructor cannot
// reach a subclass's override, so initializeContainerView runs once the whole object exists.
class ContainerView : public BaseView {
 protected:
  // Only create() can make one, so no container skips its initialisation.
  class ConstructionToken {
    ConstructionToken() = default;
    friend class ContainerView;
  };

 public:
  // `View` is ContainerView or a subclass whose constructors take the token first.
  template <class View = ContainerView, class... Args>
  static std::shared_ptr<View> create(Args&&... args) {
    auto view = std::make_shared<View>(ConstructionToken(), std::forward<Args>(args)...);
    static_cast<ContainerView&>(*view).initializeContainerView();
    return view;
  }

  explicit ContainerView(ConstructionToken);
  // Also holds a hidden example view of the named image ("example_welcome", "example_about").
  ContainerView(ConstructionToken, const QString& namedView);

  const std::shared_ptr<ExampleView>& exampleView() const { return mExampleView; }

  void applyLayout() override;
  bool acceptsFirstResponder() const override { return false; }

 protected:
  // Runs once, right after construction, for containers and their subclasses alike.
  virtual void initializeContainerView() {}

 private:
  std::shared_ptr<ExampleView> mExampleView;
};

}  // namespace orrery
