#pragma once
// A layer that shows one idea as a disc through its own PlanetDrawer: the planets of the
// radial view, the panels' previews and the backing layer of SimpleIdeaView.
//
// The contents are the kit's cached image, redrawn only when what the disc shows changes:
// every setter compares with what is shown (the same text, the same Color or IconImage
// object, a picture with the same cache key) and marks the layer for display only on a
// difference, so refreshing every planet after an edit redraws only the discs that changed.
// Main thread only.

#include "editor/disc_picture_cache.h"
#include "editor/planet_drawer.h"
#include "foundation/views/base_layer.h"
#include "model/idea.h"

#include <memory>
#include <optional>

namespace orrery {

class PlanetLayer : public BaseLayer {
 public:
  // No drawer yet: the caller sets a planet type next.
  PlanetLayer();
  // A drawer of `type` and the frame (0, 0) with its scaled size.
  explicit PlanetLayer(PlanetType type);
  static std::shared_ptr<PlanetLayer> layer() { return std::make_shared<PlanetLayer>(); }

  static float radiusForPlanetType(PlanetType type) { return PlanetDrawer::radiusForPlanetType(type); }

  // Makes the drawer; a layer keeps its first type (a second one is refused).
  void setPlanetType(PlanetType type);
  PlanetType planetType() const { return mPlanetDrawer ? mPlanetDrawer->planetType() : 0; }
  PlanetDrawer* planetDrawer() const { return mPlanetDrawer ? &*mPlanetDrawer : nullptr; }

  // Font size and text colour from the current settings; redraws when they changed.
  void updateAppearance();

  double scale() const;
  // Redraws on a new value; the frame is left alone.
  void setScale(double scale);
  // Frame: same origin, the drawer's scaled size.
  void resizeToScale();
  // Scale so that the scaled radius is `radius`, frame (0, 0) with the new size.
  void setRadius(float radius);
  float radius() const;

  void setBaseColor(ColorPtr color);
  ColorPtr baseColor() const;
  void setImage(const KitImage& image);
  KitImage image() const;
  void setIconImage(IconImagePtr icon);
  IconImagePtr iconImage() const;
  void setText(const QString& text);
  QString text() const;
  void setFontSize(float size);
  float fontSize() const;
  void setTextColor(const QColor& color);
  QColor textColor() const;
  void setShowOrbit(bool show);
  bool showOrbit() const;
  void setShowWebLink(bool show);
  bool showWebLink() const;
  void setIsLink(bool link);
  bool isLink() const;
  void setApproximateRendering(bool approximate);
  bool approximateRendering() const;

  // Keeps the note for the hover popover; the badge shows the note marker while one is set.
  void setNote(const QString& note);
  const QString& note() const { return mNote; }
  bool showNote() const { return !mNote.isNull(); }

  // The placeholder look of the idea being dragged: half opacity.
  void setShadowMode(bool shadow);
  bool shadowMode() const { return mShadowMode; }

  // A point in the layer's coordinates; never while no note is set.
  bool hitsNote(const QPointF& point) const;

  bool drawsContent() const override { return true; }
  void drawInContext(QPainter& painter) override;
  // The disc's square out to the link ring, in whole device pixels: the corners of the layer
  // stay empty and are neither kept nor composed.
  QRectF drawnArea(const QRectF& bounds) const override;
  // Shows the picture kept for its look (DiscPictureCache); else draws like the base and keeps
  // the picture.
  void display() override;
  // What the picture shows, or none for a disc its view draws (views draw on the main thread
  // and may add to the disc).
  std::optional<DiscLook> look() const;
  // Shows the picture kept for the current look, if any, in place of a display.
  bool showKeptPicture();
  // The picture display would draw now, drawn on any thread while the main thread leaves the
  // layer alone; showPicture, on the main thread, then shows and keeps it in place of a display.
  QImage drawPicture();
  void showPicture(const QImage& picture);

  // A type-0 disc at scale 1 showing the same idea (no title), z position 1.
  std::shared_ptr<PlanetLayer> copyForDragging() const;
  // Shows the idea; none gives a soft assertion and a cleared disc.
  void updateWithIdea(const IdeaPtr& idea, const QString& docIdentifier);

  const QString& ideaIdentifier() const { return mIdeaIdentifier; }
  void setIdeaIdentifier(const QString& identifier) { mIdeaIdentifier = identifier; }
  const QString& docIdentifier() const { return mDocIdentifier; }
  void setDocIdentifier(const QString& identifier) { mDocIdentifier = identifier; }

 private:
  // Part of the layer's own allocation, as a crowded orbit makes a million planets; handed out
  // from a const layer like the drawing state it is.
  mutable std::optional<PlanetDrawer> mPlanetDrawer;
  QString mNote;
  bool mShadowMode = false;
  QString mIdeaIdentifier;
  QString mDocIdentifier;
};

}  // namespace orrery
