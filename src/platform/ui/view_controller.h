#pragma once
// A view controller: owns a view (made by loadView on first use) and sits in the responder
// chain between that view and its superview. It can present other controllers inside the
// same window through a presentation animator.

#include "platform/ui/responder.h"

#include <QString>

#include <memory>
#include <vector>

namespace platform {

class View;
class ViewController;
class Window;

// Moves a presented controller's view in and out; the presenting controller calls it.
class PresentationAnimator {
 public:
  virtual ~PresentationAnimator() = default;
  virtual void animatePresentation(ViewController& presented, ViewController& presenting) = 0;
  virtual void animateDismissal(ViewController& presented, ViewController& presenting) = 0;
};

class ViewController : public Responder, public std::enable_shared_from_this<ViewController> {
 public:
  ViewController() = default;
  ~ViewController() override;

  // The view, made by loadView on first use.
  const std::shared_ptr<View>& view();
  void setView(std::shared_ptr<View> view);
  bool isViewLoaded() const { return mView != nullptr; }
  // Makes the view; the base makes an empty View.
  virtual void loadView();
  virtual void viewDidLoad() {}
  // The view is about to enter or has entered a window, is about to leave or has left one.
  virtual void viewWillAppear() {}
  virtual void viewDidAppear() {}
  virtual void viewWillDisappear() {}
  virtual void viewDidDisappear() {}
  // The view is about to lay out its subviews.
  virtual void viewWillLayout() {}

  QString title() const { return mTitle; }
  void setTitle(const QString& title) { mTitle = title; }

  // The window of the controller's view, or null.
  Window* viewWindow() const;

  // In-window presentation of another controller.
  void presentViewController(const std::shared_ptr<ViewController>& controller,
                             const std::shared_ptr<PresentationAnimator>& animator);
  void dismissViewController(const std::shared_ptr<ViewController>& controller);
  // Asks the controller's presenter to dismiss it.
  void dismissSelf();
  ViewController* presentingViewController() const { return mPresenting.get(); }
  const std::vector<std::shared_ptr<ViewController>>& presentedViewControllers() const {
    return mPresented;
  }

  Responder* nextResponder() const override;

 private:
  std::shared_ptr<View> mView;
  QString mTitle;
  WeakRef<ViewController> mPresenting;
  std::vector<std::shared_ptr<ViewController>> mPresented;
  std::vector<std::shared_ptr<PresentationAnimator>> mAnimators;
};

}  // namespace platform
