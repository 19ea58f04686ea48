#pragma once
// The base of scroll views: flipped, with a permanent legacy-style vertical scroller of the
// program's own rather than an overlay scroller.

#include "platform/ui/scroll_view.h"

namespace orrery {

class BaseLegacyScroller : public platform::Scroller {
 public:
  enum class Style { Legacy = 0, Overlay = 1 };
  explicit BaseLegacyScroller(platform::ScrollView* owner) : Scroller(owner, true) {}
  static Style preferredScrollerStyle() { return Style::Legacy; }
};

class BaseScrollView : public platform::ScrollView {
 public:
  BaseScrollView();
  explicit BaseScrollView(const QRectF& frame);
  bool isFlipped() const override { return true; }
};

}  // namespace orrery
