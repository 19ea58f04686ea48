#pragma once
// The about window: logo, "Orrery v<version>", the credits page, the copyright line and a
// "Legal Notices" link-button; one window per process, hidden rather than destroyed on close.

#include "foundation/views/button_view.h"
#include "foundation/views/colored_view.h"

#include <QUrl>

#include <memory>

class QTextBrowser;

namespace platform {
class ImageView;
class NativeHostView;
class Window;
}  // namespace platform

namespace orrery {

class TextLabel;

class AboutView : public ColoredView, public ButtonViewDelegate {
 public:
  AboutView();
  void applyLayout() override;
  void buttonPressed(ButtonView& button) override;
  void resetCursorRects() override;

  platform::ImageView& logoView() const { return *mLogoView; }
  TextLabel& textLabel() const { return *mTextLabel; }
  TextLabel& copyLabel() const { return *mCopyLabel; }
  ButtonView& buttonView() const { return *mButtonView; }
  platform::NativeHostView& webView() const { return *mWebView; }
  QTextBrowser* browser() const { return mBrowser; }
  int pageLoads() const { return mPageLoads; }

  // Opens an http(s) link in the browser; any other address opens nothing. The page itself
  // never navigates.
  static void linkClicked(const QUrl& url);
  // The credits page's HTML, empty when it cannot be read.
  static QString loadPage(const QString& path);

 private:
  void webViewDidFinishLoad();

  std::shared_ptr<platform::ImageView> mLogoView;
  std::shared_ptr<TextLabel> mTextLabel;
  std::shared_ptr<platform::NativeHostView> mWebView;
  QTextBrowser* mBrowser = nullptr;
  std::shared_ptr<TextLabel> mCopyLabel;
  std::shared_ptr<ButtonView> mButtonView;
  int mPageLoads = 0;
};

class AboutWindow {
 public:
  static constexpr QSizeF kContentSize{285, 395};
  static platform::Window& show();
  static AboutView* view();
};

}  // namespace orrery
