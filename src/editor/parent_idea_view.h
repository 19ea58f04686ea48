#pragma once
// The parent of the sun in the top-left corner of the radial view: a large disc whose centre
// lies outside the corner, so only a quarter-like segment shows, with the parent's picture
// (cut to the disc) or its tinted artwork and title. Made once per radial view and not
// updated afterwards, except that the title follows text-size and contrast changes.
// Main thread only.

#include "editor/parent_title_label.h"
#include "foundation/kit_image.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"
#include "model/color.h"
#include "model/idea.h"
#include "platform/core/notification_center.h"

#include <memory>

namespace orrery {

class ParentIdeaView;

class ParentIdeaViewDelegate : public virtual platform::Trackable {
 public:
  virtual void handleTapOnParentIdeaView(ParentIdeaView& /*view*/) {}
};

class ParentIdeaView : public BaseView {
 public:
  // A picture parent: the picture cut to the disc, no title.
  explicit ParentIdeaView(const KitImage& image);
  // A parent without picture: the "parent_planet" artwork tinted with the colour, drawn as the
  // same disc, and the title.
  ParentIdeaView(const QString& text, ColorPtr color);

  static QRectF defaultTextFrame() { return QRectF(11, 6, 95, 36); }
  static QPointF defaultOrigin() { return QPointF(-34, -36); }
  static float defaultRadius();

  const std::shared_ptr<BaseView>& contentView() const { return mContentView; }
  const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
  // None for a picture parent.
  const std::shared_ptr<ParentTitleLabel>& label() const { return mLabel; }
  float radius() const { return mRadius; }
  // The bounding square of the disc, mostly outside the view's corner.
  QRectF discSquare() const;
  QPointF origin() const { return mOrigin; }

  ParentIdeaViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ParentIdeaViewDelegate* delegate) { mDelegate.reset(delegate); }
  const IdeaPtr& objectTag() const { return mObjectTag; }
  void setObjectTag(IdeaPtr idea) { mObjectTag = std::move(idea); }

  // Anywhere in the frame, not only on the visible disc.
  platform::View* hitTest(const QPointF& pointInSuperview) override;

 private:
  ParentIdeaView();
  void updateLabel();

  std::shared_ptr<ParentTitleLabel> mLabel;
  float mRadius;
  QPointF mOrigin;
  QImage mImage;
  std::shared_ptr<BaseImageView> mImageView;
  std::shared_ptr<BaseView> mContentView;
  QString mText;
  ColorPtr mColor;
  platform::WeakRef<ParentIdeaViewDelegate> mDelegate;
  IdeaPtr mObjectTag;
  platform::ObserverScope mAppearanceObserver;
};

}  // namespace orrery
