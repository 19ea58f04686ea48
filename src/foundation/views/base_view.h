#pragma once
// The base of nearly every view: one layout operation (applyLayout) instead of autoresizing,
// run on resize, on the layout pass, when a hosted view is added and when the outermost of
// nested layout transactions closes; hosted subviews with optional layout blocks; implicit
// layer animations that a subtree can switch off; and optional swallowing of clicks.

#include "foundation/views/visual_object.h"
#include "platform/ui/view.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orrery {

// Places a hosted view: called with (the hosted view, the host's bounds).
using LayoutBlock = std::function<void(platform::View& view, const QRectF& hostBounds)>;

struct ViewPart {
  std::shared_ptr<platform::View> view;
  LayoutBlock layoutBlock;
};

class BaseView : public platform::View, public VisualObject {
 public:
  BaseView();
  explicit BaseView(const QRectF& frame);
  // The layouter (kept weakly) is told applyLayout before the hosted views are placed.
  explicit BaseView(Layouter* layouter);
  // Hosts exactly `layer` as the view's own layer, with the view as its delegate.
  explicit BaseView(std::shared_ptr<platform::Layer> customLayer);

  bool isFlipped() const override { return true; }

  void beginLayout();
  void endLayout();
  virtual void applyLayout();
  void callApplyLayout() { applyLayout(); }
  // Lays out now unless a transaction is open or a side of the bounds is 0.
  void forceDirtyLayout();
  void layout() override;
  void resizeSubviewsWithOldSize(const QSizeF& oldSize) override;

  void addHostedView(std::shared_ptr<platform::View> view, LayoutBlock layout = {});
  void removeHostedView(const platform::View* view);
  void willRemoveSubview(platform::View* subview) override;
  const std::vector<ViewPart>& hostedParts() const { return mParts; }

  virtual bool shouldAllowImplicitAnimations() const;
  platform::LayerAction actionForLayer(platform::Layer& layer, const QString& key) override;
  bool disableAnimations() const { return mDisableAnimations; }
  void setDisableAnimations(bool disable) { mDisableAnimations = disable; }
  bool eatMouseEvents() const { return mEatMouseEvents; }
  void setEatMouseEvents(bool eat) { mEatMouseEvents = eat; }

  void mouseDown(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;

  // VisualObject.
  QPointF center() const override;
  QRectF frame() const override { return View::frame(); }

 private:
  std::vector<ViewPart> mParts;
  platform::WeakRef<Layouter> mLayouter;
  std::int64_t mLayoutTransaction = 0;
  bool mDisableAnimations = false;
  bool mEatMouseEvents = false;
};

}  // namespace orrery
