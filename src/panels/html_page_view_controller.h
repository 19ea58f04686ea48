#pragma once
// The web-link panel: a small browser over the whole window for choosing a URL idea's address.
// The field on top takes an address or words to search for; the page shows below; confirming
// on a loaded page hands back the page's address and a picture of its top. The panel changes
// no idea by itself: its presenter reads the result (or has storeResultInto apply it) after the
// panel has asked to be dismissed. After that the panel is inert. An address and picture the
// idea's map has no room for are refused as they are confirmed. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/button_view.h"
#include "foundation/views/rounded_text_button.h"
#include "model/idea_edit_room.h"
#include "panels/web_address.h"
#include "platform/ui/web_view.h"

#include <QImage>
#include <QObject>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>

namespace orrery {

class ColoredView;
class Idea;
class HTMLPageViewController;
class SearchTextField;
class SpinningProgressIndicator;

class HTMLPageViewControllerDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseDismissHTMLPageView(HTMLPageViewController& panel) = 0;
};

class HTMLPageViewController : public BaseViewController,
                               public ButtonViewDelegate,
                               public RoundedTextButtonDelegate,
                               public platform::WebViewDelegate,
                               public Layouter {
 public:
  static constexpr double kTopBarHeight = 40;
  static constexpr double kPictureWidth = 64;
  // Web state.
  static constexpr std::uint64_t kWebNothing = 0;
  static constexpr std::uint64_t kWebLoading = 1;
  static constexpr std::uint64_t kWebFinished = 2;

  // The engine words are searched with: scheme, host and port of its "/search?q=" page.
  static QUrl searchEngine();
  // Returns the previous engine.
  static QUrl setSearchEngine(const QUrl& engine);

  // An address (nil: a new link) is put into the field and loaded when it names a web page.
  HTMLPageViewController(HTMLPageViewControllerDelegate* delegate, const QString& urlString);
  ~HTMLPageViewController() override;
  // A panel that can show pages; null after an alert has told the user why none can (no web
  // engine), so presenters open nothing. The first panel of a process shows at once, without
  // its page view while the engine loads; should the engine then fail to load, the alert
  // tells why and the panel closes itself with no change.
  static std::shared_ptr<HTMLPageViewController> createShowingPages(HTMLPageViewControllerDelegate* delegate,
                                                                    const QString& urlString);

  // The answer: a null resultURL means no change.
  const QString& resultURL() const { return mResultURL; }
  const QImage& resultPageImage() const { return mResultPageImage; }
  // Gives a web-link idea the confirmed address and page picture; false (idea untouched) when
  // nothing was confirmed. A page that showed nothing leaves the idea its picture.
  bool storeResultInto(Idea& idea) const;
  void setEditRoom(std::shared_ptr<IdeaEditRoom> room) { mEditRoom = std::move(room); }

  void roundedTextButtonPressed(RoundedTextButton& button) override;
  void buttonPressed(ButtonView& button) override;

  void controlTextDidBeginEditing();
  void controlTextDidEndEditing();
  void controlTextDidChange();

  void webViewDidStartProvisionalLoad(platform::WebView& webView) override;
  void webViewDidFinishLoad(platform::WebView& webView) override;
  void webViewDidFailLoad(platform::WebView& webView) override;
  bool webViewShouldNavigate(platform::WebView& webView, const QUrl& url) override;

  void cancelOperation();
  void actionButtonPressed();
  void backButtonPressed();
  void openExternallyButtonPressed();
  void closeButtonPressed();
  void startLoadingPage(const QString& text);
  void startLoadingPageWithURL(const QUrl& url);
  void startSearch();
  // The top W x min(W, H) of what the page shows, 64 points wide; null when nothing shows.
  QImage captureWebviewImage() const;

  void loadView() override;
  void applyLayout() override;
  void updateView();
  void viewDidAppear() override;
  void viewDidDisappear() override;

  // State and parts, for the presenter and tests.
  std::uint64_t searchFieldState() const { return mSearchFieldState; }
  std::uint64_t webViewState() const { return mWebViewState; }
  bool isEditSession() const { return mIsThisAEditSession; }
  bool isDismissed() const { return mDismissed; }
  // The engine is loading: the page view (and a load asked for meanwhile) comes once it has.
  bool isWaitingForEngine() const { return mWaitingForEngine; }
  const QUrl& missingPageURL() const { return mMissingPageURL; }
  const std::shared_ptr<platform::WebView>& webView() const { return mWebView; }
  const std::shared_ptr<SearchTextField>& searchTextField() const { return mSearchTextField; }
  const std::shared_ptr<RoundedTextButton>& actionButton() const { return mActionButton; }
  const std::shared_ptr<RoundedTextButton>& openExternallyButton() const { return mOpenExternallyButton; }
  const std::shared_ptr<ButtonView>& closeButton() const { return mCloseButton; }
  const std::shared_ptr<ButtonView>& backButton() const { return mBackButton; }
  const std::shared_ptr<ColoredView>& topAreaView() const { return mTopAreaView; }
  const std::shared_ptr<SpinningProgressIndicator>& progressView() const { return mProgressView; }
  QString fieldText() const;
  void setFieldText(const QString& text);

 private:
  void switchToFreshWebView();
  void engineIsReady();
  static void showEngineError();
  void webViewDidFinishLoading();
  void showEmptyPage();
  void resignFieldFocus();
  // Makes the panel's view the first responder unless something in the panel already is.
  void takeKeys();
  void performDismissalViaDelegate();
  bool isCurrent(const platform::WebView& webView) const;

  std::shared_ptr<platform::WebView> mWebView;
  std::shared_ptr<ButtonView> mCloseButton;
  std::shared_ptr<ButtonView> mBackButton;
  std::shared_ptr<ColoredView> mTopAreaView;
  std::shared_ptr<RoundedTextButton> mActionButton;
  std::shared_ptr<RoundedTextButton> mOpenExternallyButton;
  std::shared_ptr<SearchTextField> mSearchTextField;
  platform::WeakRef<HTMLPageViewControllerDelegate> mDelegate;
  std::shared_ptr<SpinningProgressIndicator> mProgressView;
  bool mIsThisAEditSession = false;
  bool mTextFieldIsBeingEdited = false;
  QUrl mMissingPageURL;
  std::uint64_t mSearchFieldState = webaddress::kEmpty;
  std::uint64_t mWebViewState = kWebNothing;
  QString mResultURL;
  QImage mResultPageImage;
  std::shared_ptr<IdeaEditRoom> mEditRoom;
  bool mDismissed = false;
  bool mFirstAppearanceDone = false;
  // The current load is the missing page: its failure shows an empty page instead.
  bool mLoadingMissingPage = false;
  // An empty page stands in for a missing page that failed; its own loads are not reported.
  bool mShowsEmptyPage = false;
  bool mWaitingForEngine = false;
  std::function<void()> mLoadOnceReady;  // the last load asked for while the engine loads
  QObject* mKeyWatcher = nullptr;  // owned by the field's line edit
  // Who had the keys when the panel took them; they go back to it as the panel closes.
  platform::WeakRef<platform::Responder> mKeysBefore;
};

}  // namespace orrery
