#pragma once
// A scrolling view: a clip view whose bounds origin is the scroll position, a document view
// inside it, optional legacy-style scrollers (permanent bars beside the clip view), scroll
// wheel handling and magnification (the clip view's bounds shrink as it zooms in).

#include "platform/ui/view.h"

namespace platform {

class ScrollView;

class Scroller : public View {
 public:
  static constexpr double kWidth = 15.0;
  Scroller(ScrollView* owner, bool vertical);
  // Knob position 0..1 and proportion of the whole that is visible.
  void setKnob(double position, double proportion);
  double knobPosition() const { return mPosition; }
  double knobProportion() const { return mProportion; }
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void mouseUp(const Event& event) override;

 private:
  QRectF knobRect() const;
  double track() const;
  ScrollView* mOwner;
  bool mVertical;
  double mPosition = 0;
  double mProportion = 1;
  double mGrabOffset = -1;
};

class ScrollView : public View {
 public:
  ScrollView();
  explicit ScrollView(const QRectF& frame);

  const std::shared_ptr<View>& contentView() const { return mClip; }
  const std::shared_ptr<View>& documentView() const { return mDocument; }
  void setDocumentView(std::shared_ptr<View> view);

  bool hasVerticalScroller() const { return mHasVertical; }
  void setHasVerticalScroller(bool has);
  bool hasHorizontalScroller() const { return mHasHorizontal; }
  void setHasHorizontalScroller(bool has);
  // Hides a scroller while everything fits.
  bool autohidesScrollers() const { return mAutohides; }
  void setAutohidesScrollers(bool v);
  const std::shared_ptr<Scroller>& verticalScroller() const { return mVertical; }
  void setVerticalScroller(std::shared_ptr<Scroller> scroller);

  // The clip view's size in the frame (points on screen).
  QSizeF contentSize() const;
  // What part of the document is shown, in document coordinates.
  QRectF documentVisibleRect() const;
  // Scrolls so that `point` (document coordinates) is the top-left of what is shown,
  // limited to the document.
  void scrollToPoint(const QPointF& point);
  QPointF scrollPosition() const;

  double magnification() const { return mMagnification; }
  // Zooms keeping `center` (document coordinates) where it is on screen.
  void setMagnification(double magnification, const QPointF& center);
  void setMagnification(double magnification);
  double minMagnification() const { return mMinMagnification; }
  double maxMagnification() const { return mMaxMagnification; }
  void setMinMagnification(double m) { mMinMagnification = m; }
  void setMaxMagnification(double m) { mMaxMagnification = m; }
  bool allowsMagnification() const { return mAllowsMagnification; }
  void setAllowsMagnification(bool v) { mAllowsMagnification = v; }

  // Lays out the clip view and scrollers.
  void tile();
  // Updates the scrollers from the clip view's position.
  virtual void reflectScrolledClipView();

  void setFrame(const QRectF& frame) override;
  void scrollWheel(const Event& event) override;
  // Page Up and Page Down move by what is shown less a line, Home and End to the document's
  // ends, the arrows by a line; other keys go on along the responder chain.
  void keyDown(const Event& event) override;
  // Scrolls for one of those keys; false for any other key or with a modifier.
  bool scrollForKey(const Event& event);
  void magnifyWithEvent(const Event& event) override;

 private:
  QPointF clampedOrigin(QPointF origin) const;
  void scrollerMoved(bool vertical, double position);
  friend class Scroller;

  std::shared_ptr<View> mClip;
  std::shared_ptr<View> mDocument;
  std::shared_ptr<Scroller> mVertical;
  std::shared_ptr<Scroller> mHorizontal;
  bool mHasVertical = false;
  bool mHasHorizontal = false;
  bool mAutohides = false;
  double mMagnification = 1;
  double mMinMagnification = 0.25;
  double mMaxMagnification = 4;
  bool mAllowsMagnification = false;
};

}  // namespace platform
