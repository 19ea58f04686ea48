#pragma once
// Draws one idea as a disc (a planet): the sun and planets of the radial view, drag and dock
// copies, panel previews, graph nodes and exports all go through this one routine, so every
// disc looks the same. A drawer holds what one disc shows and paints it into a y-down
// painter on demand; it owns no view or layer. One thread at a time uses a drawer.
//
// The title is laid out once and kept until its text, font size, colour, icon presence or
// scale change: discs are drawn thousands of times and laying text out dominates a draw.

#include "foundation/kit_image.h"
#include "model/color.h"
#include "model/icon_image.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QPainter;

namespace orrery {

// The size class of a disc: 0 orbit planet and drag or dock copy, 1 sun, 2 panel preview,
// 3 small disc, 4 graph root, 5 other graph node, 6 home-screen tile.
using PlanetType = std::uint64_t;

// The marker pictures a drawer uses. A missing picture (null image) is simply not drawn.
struct PlanetMarkerImages {
  QImage subPlanetIndicator;  // "3_dots"
  QImage noteIndicator;       // "planet_note_indicator"
  QImage webLinkIndicator;    // "web_link_icon"

  // The application's resources, read once per process.
  static const PlanetMarkerImages& standard();
};

class PlanetDrawer {
 public:
  explicit PlanetDrawer(PlanetType type);
  PlanetDrawer(PlanetType type, const PlanetMarkerImages& markers);
  ~PlanetDrawer();
  PlanetDrawer(const PlanetDrawer&) = delete;
  PlanetDrawer& operator=(const PlanetDrawer&) = delete;

  static float radiusForPlanetType(PlanetType type);
  // Reads the current text-size factor.
  static float fontSizeForPlanetType(PlanetType type);
  static float fontSizeForPlanetType(PlanetType type, std::int32_t fontSizeFactor);

  // White, or dark grey on a bright colour while the high-contrast setting is on.
  static QColor titleColorOn(const ColorPtr& background);

  // Font size and text colour from the current settings.
  void updateAppearance();

  PlanetType planetType() const { return mPlanetType; }
  // A colour drops the picture; none leaves the picture. Recomputes the appearance.
  void setBaseColor(ColorPtr color);
  const ColorPtr& baseColor() const { return mBaseColor; }
  // A picture drops the colour; none leaves the colour.
  void setImage(const KitImage& image);
  const KitImage& image() const { return mPlanetUserImage; }
  void setIconImage(IconImagePtr icon) { mIconImage = std::move(icon); }
  const IconImagePtr& iconImage() const { return mIconImage; }
  // A null string is no title.
  void setText(const QString& text) { mText = text; }
  const QString& text() const { return mText; }
  void setTextColor(const QColor& color) { mTextColor = color; }
  const QColor& textColor() const { return mTextColor; }
  void setFontSize(float size) { mFontSize = size; }
  float fontSize() const { return mFontSize; }
  void setScale(float scale) { mScale = scale; }
  float scale() const { return mScale; }
  void setShowOrbit(bool show) { mShowOrbit = show; }
  bool showOrbit() const { return mShowOrbit; }
  void setIsLink(bool link) { mIsLink = link; }
  bool isLink() const { return mIsLink; }
  void setFade(bool fade) { mFade = fade; }
  bool fade() const { return mFade; }
  void setApproximateRendering(bool approximate) { mApproximateRendering = approximate; }
  bool approximateRendering() const { return mApproximateRendering; }
  // 0 none, negative the note marker, positive a number printed "%03d".
  void setNoteNumber(std::int64_t number) { mNoteNumber = number; }
  std::int64_t noteNumber() const { return mNoteNumber; }
  // Shown only while the marker set has the picture.
  void setShowWebLink(bool show) { mShowWebLink = show; }
  bool showWebLink() const;

  QSizeF scaledSize() const { return QSizeF(2.5 * mRadius, 2.5 * mRadius) * mScale; }
  double scaledRadius() const { return mRadius * mScale; }
  QPointF scaledCenter() const;

  // Draws the disc in the square from (0, 0) to scaledSize; the painter's y axis points down.
  void drawInCurrentContext(QPainter& painter);
  // Where the note badge is drawn, in the drawer's square.
  QRectF noteRect() const;
  // Whether a point given relative to the disc centre lies on the (enlarged) note badge.
  bool hitsNote(const QPointF& point) const;

  // The title as drawn: the whole text, or the beginning that fills the lines that fit.
  QString shownTitle();
  // How many times the title was laid out (the cache's diagnostics).
  int titleLayoutCount() const { return mTitleLayoutCount; }

 private:
  struct TitleLayout;
  struct Markers;

  PlanetDrawer(PlanetType type, std::shared_ptr<const Markers> markers);

  void drawPictureDisc(QPainter& painter);
  void drawColorDisc(QPainter& painter);
  void drawSubPlanetIndicator(QPainter& painter, double bottom);
  void drawNote(QPainter& painter);
  void drawLinkIndicator(QPainter& painter);
  void drawFading(QPainter& painter);
  void drawText(QPainter& painter);
  const TitleLayout& titleLayout();

  KitImage mPlanetUserImage;
  // The marker pictures and their sizes, shared by every drawer of the same set: a crowded
  // orbit's planets would otherwise each keep copies of them.
  std::shared_ptr<const Markers> mMarkers;
  PlanetType mPlanetType;
  float mRadius;
  float mScale = 1.0f;
  float mFontSize = 0;
  bool mShowOrbit = false;
  bool mApproximateRendering = false;
  bool mIsLink = false;
  bool mFade = false;
  bool mShowWebLink = false;
  int mTitleLayoutCount = 0;
  ColorPtr mBaseColor;
  IconImagePtr mIconImage;
  QColor mTextColor{Qt::white};
  QString mText;
  std::int64_t mNoteNumber = 0;

  std::unique_ptr<TitleLayout> mTitle;
  // Looked up once per drawer that prints a note number (few do): finding the font costs more
  // than drawing a badge.
  std::unique_ptr<QFont> mNoteNumberFont;
};

}  // namespace orrery
