#pragma once
// The small views the home grid is built from: a document item (its disc and a dock marker
// shown during drags), the disc drawn by HomePlanetLayer, the dock marker, and the large add
// button. The grid places them and routes their events. Main thread only.

#include "editor/idea_view.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/base_layer.h"
#include "foundation/views/base_view.h"
#include "foundation/views/user_interaction_protocol.h"
#include "home/home_planet_layer.h"
#include "platform/ui/tracking_area.h"
#include "platform/ui/weak_ref.h"

#include <QImage>

#include <cstdint>
#include <memory>

namespace orrery {

class IdeaViewForIPadListItem : public IdeaView {
 public:
  static constexpr IdeaViewRole kRole = 2;
  IdeaViewForIPadListItem();

  bool isFlipped() const override { return false; }
  void updateWithProxy(IdeaProxyPtr proxy);
  const IdeaProxyPtr& proxy() const { return mProxy; }
  HomePlanetLayer& homePlanetLayer() const { return *mHomePlanetLayer; }
  void updateAppearance() override { mHomePlanetLayer->updateAppearance(); }
  bool shadowMode() const override { return mHomePlanetLayer->shadowMode(); }
  void setShadowMode(bool shadow) override;
  QString representativeTitle() const override { return mProxy ? mProxy->text() : QString(); }
  // The planet the drag window flies: a role-3 disc of the document's root idea.
  std::shared_ptr<IdeaView> copyForDragging() const override;
  void drawRect(QPainter& /*painter*/, const QRectF& /*dirtyRect*/) override {}

 private:
  double mScale = 1.0;
  IdeaProxyPtr mProxy;
  std::shared_ptr<HomePlanetLayer> mHomePlanetLayer;
};

class SmallDockView : public BaseImageView {
 public:
  static constexpr double kSide = 12;
  SmallDockView();
  bool isHighlighted() const { return mHighlighted; }
  void setHighlighted(bool highlighted);

 private:
  QImage mDockImage;
  QImage mActiveDockImage;
  bool mHighlighted = false;
};

class NormalIdeaListItemForIPad : public BaseView {
 public:
  static constexpr double kFrameSide = 250;
  static constexpr double preferredWidth() { return 218; }
  static constexpr double standardHeight() { return 218; }

  NormalIdeaListItemForIPad();

  const IdeaProxyPtr& ideaProxy() const { return mIdeaProxy; }
  void setIdeaProxy(IdeaProxyPtr proxy);
  IdeaViewForIPadListItem& ideaView() const { return *mIdeaView; }
  SmallDockView& smallDock() const { return *mSmallDockView; }
  bool dockingMode() const { return mDockingMode; }
  void setDockingMode(bool docking);
  float focusStrength() const { return mFocusStrength; }
  void setFocusStrength(float strength);
  void updateDockingMode(bool docking, float focusStrength);
  // The grid's key of the item: the document identifier.
  QString key() const { return mIdeaView->docIdentifier(); }
  // Only the disc takes clicks, never the corners or the marker.
  platform::View* hitTest(const QPointF& pointInSuperview) override;
  void updateView();

 private:
  IdeaProxyPtr mIdeaProxy;
  std::shared_ptr<IdeaViewForIPadListItem> mIdeaView;
  std::shared_ptr<SmallDockView> mSmallDockView;
  bool mDockingMode = false;
  float mFocusStrength = 0;
};

class BigAdderForIPadDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseCreateNewIdea() = 0;
};

class BigAdderLayer : public BaseLayer {
 public:
  BigAdderLayer();
  bool pressed() const { return mPressed; }
  void setPressed(bool pressed);
  bool drawsContent() const override { return true; }
  // The grid redisplays the adder wherever it places it, on every step of a drag over it: a
  // picture of the same look, size and scale is kept rather than drawn again.
  void display() override;
  void drawInContext(QPainter& painter) override;

 private:
  struct Look {
    bool pressed = false;
    QSizeF size;
    double scale = 0;
    bool operator==(const Look&) const = default;
  };
  QImage mImage;
  QImage mActiveImage;
  bool mPressed = false;
  Look mDrawn;
};

class BigAdderView : public BaseView, public UserInteractionProtocol {
 public:
  static constexpr double kSide = 186;
  // How long the pressed look outlasts the last release.
  static constexpr double kPressedLookSeconds = 0.1;
  BigAdderView();

  BigAdderLayer& adderLayer() const { return *mLayer; }
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
  void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
  bool dockMode() const { return mDockMode; }
  void setDockMode(bool dockMode);
  BigAdderForIPadDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(BigAdderForIPadDelegate* delegate) { mDelegate.reset(delegate); }

  void mouseDown(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;
  void mouseEntered(const platform::Event& event) override;
  void mouseExited(const platform::Event& event) override;
  void updateTrackingAreas() override;

 private:
  std::shared_ptr<BigAdderLayer> mLayer;
  std::int64_t mOperationCount = 0;
  bool mUserInteractionEnabled = true;
  std::shared_ptr<platform::TrackingArea> mTrackingArea;
  bool mDockMode = false;
  platform::WeakRef<BigAdderForIPadDelegate> mDelegate;
};

}  // namespace orrery
