#include "platform/ui/view_controller.h"

#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <algorithm>

namespace platform {

ViewController::~ViewController() { invalidateTracking(); }

const std::shared_ptr<View>& ViewController::view() {
  if (!mView) {
    loadView();
    if (!mView) setView(std::make_shared<View>());
    viewDidLoad();
  }
  return mView;
}

void ViewController::setView(std::shared_ptr<View> view) {
  if (mView && mView->viewController() == this) mView->setViewController(nullptr);
  mView = std::move(view);
  if (mView) mView->setViewController(this);
}

void ViewController::loadView() { setView(std::make_shared<View>()); }

Window* ViewController::viewWindow() const { return mView ? mView->window() : nullptr; }

Responder* ViewController::nextResponder() const {
  if (Responder* r = Responder::nextResponder()) return r;
  if (!mView) return nullptr;
  if (View* s = mView->superview()) return s;
  return mView->window();
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller,
                                           const std::shared_ptr<PresentationAnimator>& animator) {
  if (!controller || !animator) return;
  controller->mPresenting.reset(this);
  mPresented.push_back(controller);
  mAnimators.push_back(animator);
  animator->animatePresentation(*controller, *this);
}

void ViewController::dismissViewController(const std::shared_ptr<ViewController>& controller) {
  auto it = std::find(mPresented.begin(), mPresented.end(), controller);
  if (it == mPresented.end()) return;
  const auto index = it - mPresented.begin();
  auto animator = mAnimators[static_cast<size_t>(index)];
  auto keep = controller;
  mPresented.erase(it);
  mAnimators.erase(mAnimators.begin() + index);
  animator->animateDismissal(*keep, *this);
  keep->mPresenting.reset();
}

void ViewController::dismissSelf() {
  if (ViewController* presenter = mPresenting.get()) presenter->dismissViewController(shared_from_this());
}

}  // namespace platform
