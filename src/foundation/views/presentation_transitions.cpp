#include "foundation/views/presentation_transitions.h"

#include "foundation/animator.h"
#include "foundation/geometry.h"
#include "foundation/views/animation_group.h"
#include "foundation/views/base_view.h"
#include "foundation/views/screenshot.h"
#include "platform/ui/transaction.h"

namespace orrery {

namespace {

constexpr double kSlideSeconds = 0.3;
constexpr float kPartialSeconds = 0.4f;
constexpr float kFrameRate = 60.0f;

// The presenting controller's view frame; zero without a view.
QRectF presentingFrame(platform::ViewController& presenting) {
  return presenting.isViewLoaded() ? presenting.view()->frame() : QRectF();
}

platform::View* container(platform::ViewController& presenting) {
  return presenting.isViewLoaded() ? presenting.view()->superview() : nullptr;
}

// Hosts a view in the container: with its layout block in a BaseView, else as a plain subview.
void host(platform::View& into, const std::shared_ptr<platform::View>& view, LayoutBlock layout) {
  if (auto* base = dynamic_cast<BaseView*>(&into))
    base->addHostedView(view, std::move(layout));
  else
    into.addSubview(view);
}

platform::TimingFunction easeInOut() { return platform::TimingFunction(platform::TimingFunction::Name::EaseInEaseOut); }

}  // namespace

// Slide up.

void SlideUpViewTransitionAnimation::animatePresentation(platform::ViewController& presented,
                                                         platform::ViewController& presenting) {
  const QRectF frame = presentingFrame(presenting);
  platform::View* into = container(presenting);
  const std::shared_ptr<platform::View> view = presented.view();
  if (!into || !view) return;
  host(*into, view, {});
  platform::withoutActions([&] { view->setFrame(frame.translated(0, frame.height())); });
  std::shared_ptr<platform::View> presentingView = presenting.view();
  AnimationGroup::run(
      kSlideSeconds, easeInOut(), [&](AnimationGroup& group) { group.setFrame(*view, frame); },
      [view, presentingView, frame] {
        platform::withoutActions([&] { view->setFrame(frame); });
        presentingView->setHidden(true);
      });
}

void SlideUpViewTransitionAnimation::animateDismissal(platform::ViewController& presented,
                                                      platform::ViewController& presenting) {
  const QRectF frame = presentingFrame(presenting);
  if (presenting.isViewLoaded()) presenting.view()->setHidden(false);
  if (!presented.isViewLoaded()) return;
  const std::shared_ptr<platform::View> view = presented.view();
  AnimationGroup::run(
      kSlideSeconds, easeInOut(), [&](AnimationGroup& group) { group.setFrame(*view, frame.translated(0, frame.height())); },
      [view] {
        platform::withoutActions([&] { view->setAlphaValue(0); });
        view->removeFromSuperview();
      });
}

// Partial.

void PartialViewTransitionAnimation::animatePresentation(platform::ViewController& presented,
                                                         platform::ViewController& presenting) {
  const QRectF frame = presentingFrame(presenting);
  platform::View* into = container(presenting);
  const std::shared_ptr<platform::View> view = presented.view();
  if (!into || !view) return;
  auto cover = std::make_shared<ScreenProtectorView>(kitImageByCapturingScreenshot(*presenting.view()));
  mProtector = cover;
  cover->setDelegate(dynamic_cast<ScreenProtectorViewDelegate*>(&presented));
  host(*into, cover, {});
  platform::withoutActions([&] { cover->layer()->setOpacity(0); });
  host(*into, view, [](platform::View& v, const QRectF& hostBounds) {
    v.setFrame(QRectF(v.frame().x(), v.frame().y(), hostBounds.width(), kPanelHeight));
  });
  const double startY = frame.y() - kPanelHeight;
  platform::withoutActions([&] { view->setFrame(QRectF(frame.x(), startY, frame.width(), kPanelHeight)); });

  auto animator = Animator::create(kPartialSeconds, kFrameRate);
  mRunning = animator;
  animator->play([view, cover, startY](Animator& a) {
    const double eased = Animator::cubicEaseInOut(a.updateProgress());
    platform::withoutActions([&] {
      view->setFrameOrigin(QPointF(0, Geometry::interpolateLinearlyFromDouble(startY, 0, eased)));
      cover->layer()->setOpacity(eased);
    });
  });
}

void PartialViewTransitionAnimation::animateDismissal(platform::ViewController& presented,
                                                      platform::ViewController& presenting) {
  if (auto running = mRunning.lock()) running->deactivate();  // a presentation still sliding in stops here
  if (presenting.isViewLoaded()) presenting.view()->setHidden(false);
  std::shared_ptr<platform::View> view = presented.isViewLoaded() ? presented.view() : nullptr;
  std::shared_ptr<ScreenProtectorView> cover = std::move(mProtector);
  auto animator = Animator::create(kPartialSeconds, kFrameRate);
  mRunning = animator;
  animator->play([view, cover](Animator& a) {
    const float progress = a.updateProgress();
    const double eased = Animator::cubicEaseInOut(progress);
    platform::withoutActions([&] {
      if (view)
        view->setFrameOrigin(
            QPointF(0, Geometry::interpolateLinearlyFromDouble(0, -view->frame().height(), eased)));
      if (cover) cover->layer()->setOpacity(1 - eased);
    });
    if (progress < 1) return;
    platform::withoutActions([&] {
      if (view) view->setAlphaValue(0);
      if (cover) cover->setAlphaValue(0);
    });
    if (view) view->removeFromSuperview();
    if (cover) cover->removeFromSuperview();
  });
}

}  // namespace orrery
