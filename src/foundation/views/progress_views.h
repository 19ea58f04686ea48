#pragma once
// The two small progress indicators of the progress HUD: a round pie or ring, and a bar.
// y-up views; any property change redraws. Progress outside 0..1 draws as its nearest end.
// Main thread only.

#include "platform/ui/view.h"

#include <QColor>

namespace orrery {

class RoundProgressView : public platform::View {
 public:
  explicit RoundProgressView(const QRectF& frame = QRectF(0, 0, 37, 37));
  bool isFlipped() const override { return false; }

  float progress() const { return mProgress; }
  void setProgress(float progress);
  QColor progressTintColor() const { return mProgressTintColor; }
  void setProgressTintColor(const QColor& color);
  QColor backgroundTintColor() const { return mBackgroundTintColor; }
  void setBackgroundTintColor(const QColor& color);
  // The ring style instead of the pie.
  bool isAnnular() const { return mAnnular; }
  void setAnnular(bool annular);

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  float mProgress = 0;
  QColor mProgressTintColor{255, 255, 255, 255};
  QColor mBackgroundTintColor{255, 255, 255, 26};
  bool mAnnular = false;
};

class BarProgressView : public platform::View {
 public:
  explicit BarProgressView(const QRectF& frame = QRectF(0, 0, 120, 20));
  bool isFlipped() const override { return false; }

  float progress() const { return mProgress; }
  void setProgress(float progress);
  QColor lineColor() const { return mLineColor; }
  void setLineColor(const QColor& color);
  QColor progressColor() const { return mProgressColor; }
  void setProgressColor(const QColor& color);
  QColor progressRemainingColor() const { return mProgressRemainingColor; }
  void setProgressRemainingColor(const QColor& color);

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  float mProgress = 0;
  QColor mLineColor{Qt::red};
  QColor mProgressColor{Qt::white};
  QColor mProgressRemainingColor{Qt::transparent};
};

}  // namespace orrery
