#pragma once
// The base view of one idea disc shown as a view of its own: its size class comes from a
// role, it answers hits only inside the disc, carries the identifiers of the idea and
// document it shows, and offers the pressed look and the drag-copy hook. Main thread only.

#include "foundation/views/base_view.h"
#include "shell/drag_support.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace orrery {

// 1 sun of the radial view, 2 home-screen tile, 3 drag or dock copy (takes no hits), others
// a plain disc.
using IdeaViewRole = std::uint64_t;

class IdeaView : public BaseView, public DraggablePlanet {
 public:
  // Hosts `layer` as the view's own layer; a square of the role's side at (0, 0).
  IdeaView(IdeaViewRole role, std::shared_ptr<platform::Layer> layer);

  static float radiusForRole(IdeaViewRole role);
  static float sideLengthForRole(IdeaViewRole role);

  IdeaViewRole role() const { return mRole; }
  // The role's radius, truncated; scaling the view does not change it.
  float radius() const { return mRadius; }

  // The view itself when the point (superview coordinates) lies closer to the centre than
  // the radius, so the square's corners never take clicks.
  platform::View* hitTest(const QPointF& pointInSuperview) override;

  // Pressed look: scale 0.95 over 0.2 s.
  void startTapAnimation();
  // Back to the identity transform over 2 s, and again over 1.2 s 0.3 s later (skipped when
  // the view is gone by then).
  void stopTapAnimation();
  // The subclass's own scaling; the base scales the layer's transform.
  void setScale(double scale) override;

  virtual void updateAppearance() {}
  QString representativeTitle() const override { return {}; }
  virtual std::shared_ptr<IdeaView> copyForDragging() const { return nullptr; }
  std::shared_ptr<DraggablePlanet> copyPlanetForDragging() const override { return copyForDragging(); }
  BaseView& planetView() override { return *this; }

  virtual bool shadowMode() const { return mShadowMode; }
  virtual void setShadowMode(bool shadow) { mShadowMode = shadow; }
  const QString& docIdentifier() const override { return mDocIdentifier; }
  void setDocIdentifier(const QString& identifier) { mDocIdentifier = identifier; }
  const QString& ideaIdentifier() const override { return mIdeaIdentifier; }
  void setIdeaIdentifier(const QString& identifier) { mIdeaIdentifier = identifier; }

 private:
  IdeaViewRole mRole;
  float mRadius;
  bool mShadowMode = false;
  QString mDocIdentifier;
  QString mIdeaIdentifier;
};

}  // namespace orrery
