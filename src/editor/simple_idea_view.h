#pragma once
// The concrete disc view: its own layer is a PlanetLayer, so it draws through a PlanetDrawer
// and is redrawn only when what it shows changes. It shows the sun of the radial view, the
// drag image of a dragged planet and the idea parked in the dock well. It follows text-size
// and contrast changes for its whole life. Main thread only.

#include "editor/idea_view.h"
#include "editor/planet_layer.h"
#include "model/idea.h"
#include "platform/core/notification_center.h"

namespace orrery {

class SimpleIdeaView : public IdeaView {
 public:
  explicit SimpleIdeaView(IdeaViewRole role);
  SimpleIdeaView(const QString& text, IdeaViewRole role);

  static PlanetType planetTypeForRole(IdeaViewRole role);

  PlanetLayer& planetLayer() const { return *mPlanetLayer; }

  ColorPtr baseColor() const { return mPlanetLayer->baseColor(); }
  void setBaseColor(ColorPtr color) { mPlanetLayer->setBaseColor(std::move(color)); }
  KitImage image() const { return mPlanetLayer->image(); }
  void setImage(const KitImage& image) { mPlanetLayer->setImage(image); }
  IconImagePtr iconImage() const { return mPlanetLayer->iconImage(); }
  void setIconImage(IconImagePtr icon) { mPlanetLayer->setIconImage(std::move(icon)); }
  const QString& note() const { return mPlanetLayer->note(); }
  void setNote(const QString& note) { mPlanetLayer->setNote(note); }
  bool hasNote() const { return mPlanetLayer->showNote(); }
  bool hasWebLink() const { return mPlanetLayer->showWebLink(); }
  void setHasWebLink(bool has) { mPlanetLayer->setShowWebLink(has); }
  bool showOrbit() const { return mPlanetLayer->showOrbit(); }
  void setShowOrbit(bool show) { mPlanetLayer->setShowOrbit(show); }
  bool isLink() const { return mPlanetLayer->isLink(); }
  void setIsLink(bool link) { mPlanetLayer->setIsLink(link); }
  double scale() const { return mPlanetLayer->scale(); }
  // The layer's scale, and the view resized to the role's side × scale about its centre.
  void setScale(double scale) override;
  QString text() const { return mPlanetLayer->text(); }
  void changeText(const QString& text) { mPlanetLayer->setText(text); }

  platform::View* hitTest(const QPointF& pointInSuperview) override;
  // A point in the view's own coordinates.
  bool hitsNote(const QPointF& point) const { return mPlanetLayer->hitsNote(point); }

  void updateAppearance() override { mPlanetLayer->updateAppearance(); }
  void setShadowMode(bool shadow) override;
  QString representativeTitle() const override { return text(); }
  // A role-3 disc showing the same idea.
  std::shared_ptr<IdeaView> copyForDragging() const override;
  // Shows the idea (not its sub-ideas and link flags); none gives a soft assertion and a
  // cleared disc.
  void updateWithIdea(const IdeaPtr& idea, const QString& docIdentifier);

  // The layer draws the disc; the view adds nothing.
  void drawRect(QPainter& /*painter*/, const QRectF& /*dirtyRect*/) override {}

 private:
  void appearanceSettingsChanged();

  std::shared_ptr<PlanetLayer> mPlanetLayer;
  platform::ObserverScope mAppearanceObserver;
};

}  // namespace orrery
