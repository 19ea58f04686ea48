#pragma once
// The legal notices window: the resource "legal.txt" in a scrolling, wrapping, read-only text,
// one window per process, hidden rather than destroyed when closed. The text is a kit text view
// some 20 000 points tall (more for a longer file): its layer is drawn in tiles as it scrolls.

#include "foundation/globals.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/kit_font.h"

#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>

namespace platform {
class View;
class Window;
class WindowDelegate;
}  // namespace platform

namespace orrery {

class BaseScrollView;
class TextView;

class LegalNoticesView : public ColoredView {
 public:
  static constexpr double kHorizontalInset = 40;
  static constexpr double kVerticalInset = 20;

  LegalNoticesView();
  void applyLayout() override;

  BaseScrollView& scrollView() const { return *mScrollView; }
  TextView& textView() const { return *mTextView; }
  void setText(const QString& text);
  // The text of a notices file read as UTF-8 (bad bytes become replacement characters), or
  // "(error occurred loading resource file)" when it cannot be read.
  static QString loadText(const QString& path);
  // The text with each rule (a line of one repeated "=", "-", "_", "*", "~" or "#") cut to
  // what `width` holds in `font`; other lines as they are.
  static QString fittedRules(const QString& text, const QFont& font, double width);

 private:
  double wrapWidth() const;

  std::shared_ptr<BaseScrollView> mScrollView;
  std::shared_ptr<TextView> mTextView;
  QFont mFont = kitFont(Globals::fontAvenirBook(12), 12);
  QString mText;  // as loaded; the view shows it with its rules fitted
};

// A window made once per process around a view hosted over its whole content, centred in the
// primary screen's available area and kept until the application object goes. Closing it
// counts as closing any window of the program: the last one ends the program.
struct KeptWindow {
  std::unique_ptr<platform::Window> window;
  std::shared_ptr<platform::View> view;
  std::unique_ptr<platform::WindowDelegate> delegate;
};
platform::Window& showKeptWindow(KeptWindow& kept, const QSizeF& contentSize, const QString& title,
                                 const std::function<std::shared_ptr<BaseView>()>& makeView);

class LegalNoticesWindow {
 public:
  static constexpr QSizeF kContentSize{540, 440};
  // Creates the window on first call; every call brings it to the front and makes it key.
  static platform::Window& show();
  static LegalNoticesView* view();
};

}  // namespace orrery
