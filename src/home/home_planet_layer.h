#pragma once
// One document of the home grid drawn as a disc from its proxy alone (no document is opened):
// colour or picture, title band, icon, the idea-count gauge along the rim, the dates and the
// count. Main thread only.

#include "foundation/views/base_layer.h"
#include "foundation/kit_image.h"
#include "model/idea_proxy.h"

#include <QColor>
#include <QFont>
#include <QImage>

namespace orrery {

class HomePlanetLayer : public BaseLayer {
 public:
  HomePlanetLayer();
  explicit HomePlanetLayer(IdeaProxyPtr proxy);

  static constexpr double kRadius = 93.0;
  // Ideas at which the gauge is full.
  static constexpr std::int64_t kFullGaugeCount = 100;

  void updateWithProxy(IdeaProxyPtr proxy);
  void updateAppearance();
  void setShadowMode(bool shadow);
  bool shadowMode() const { return mShadowMode; }

  static float fetchNewFontSize();
  // The gauge's filled share for an idea count, 0 to 1.
  static float gaugeFill(std::int64_t itemCount);

  const IdeaProxyPtr& proxy() const { return mProxy; }
  const QString& text() const { return mText; }
  bool showsPicture() const { return !mUserImage.isNull(); }
  const QColor& labelTextColor() const { return mLabelTextColor; }
  const QColor& textColor() const { return mTextColor; }
  float fontSize() const { return mFontSize; }
  float sliderPercentage() const { return mSliderPercentage; }
  bool hasWebLinkMarker() const { return !mWebLinkIndicatorImage.isNull(); }
  const QString& dateCreatedText() const { return mDateCreatedText; }
  const QString& dateModifiedText() const { return mDateModifiedText; }

  double scaledRadius() const { return kRadius; }
  QPointF scaledCenter() const;

  bool drawsContent() const override { return true; }
  void drawInContext(QPainter& painter) override;

 private:
  // Helpers below draw with y up: `height` is the bounds height used to flip.
  void drawGauge(QPainter& painter, QPointF c, double r) const;
  void drawIcon(QPainter& painter, QPointF c, double r) const;
  void drawText(QPainter& painter, QPointF c) const;
  void drawCaptions(QPainter& painter, QPointF c, double r) const;
  void drawField(QPainter& painter, const QString& label, const QString& value, QPointF originYUp,
                 bool centred, bool shadow) const;

  IdeaProxyPtr mProxy;
  KitImage mUserImage;
  float mFontSize = 0;
  QColor mLabelTextColor;
  QColor mTextColor;
  IconImagePtr mIconImage;
  QString mText;
  QImage mWebLinkIndicatorImage;
  std::int64_t mElements = 0;
  QString mDateCreatedText;
  QString mDateModifiedText;
  float mSliderPercentage = 0;
  bool mShadowMode = false;
};

}  // namespace orrery
