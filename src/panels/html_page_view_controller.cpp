#include "panels/html_page_view_controller.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/kit_image.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/search_text_field.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "foundation/views/view_extensions.h"
#include "model/idea.h"
#include "panels/refusal_alert.h"
#include "platform/core/dispatch.h"
#include "platform/services/resources.h"
#include "platform/services/url_opener.h"
#include "platform/ui/window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace orrery {

namespace {

QUrl& engineSlot() {
  static QUrl engine(QStringLiteral("https://") + webaddress::kDefaultSearchHost);
  return engine;
}

// Escape closes the panel: in the field (a native line edit, outside the responder chain),
// and in the page before the page sees it. The page lives in a native window of its own,
// whose keys the application hands out directly: its watcher sees every key the application
// delivers and keeps those meant for the page.
class EscapeWatcher final : public QObject {
 public:
  EscapeWatcher(HTMLPageViewController* panel, bool pageOnly) : mPanel(panel), mPageOnly(pageOnly) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
      return QObject::eventFilter(watched, event);
    HTMLPageViewController* p = mPanel.get();
    if (mPageOnly && !(p && p->webView() && p->webView()->isHostedObject(watched))) return false;
    if (p) p->cancelOperation();
    return true;
  }

 private:
  platform::WeakRef<HTMLPageViewController> mPanel;
  bool mPageOnly;
};

// While the panel is shown the keys are its own, so that Escape reaches it wherever it is
// pressed: its view takes them whenever nothing in it has them (the view beneath the panel
// had them, the field gave them up, the page that had them was replaced).
class PanelRootView final : public ColoredView {
 public:
  using ColoredView::ColoredView;
  bool acceptsFirstResponder() const override { return true; }
};

}  // namespace

QUrl HTMLPageViewController::searchEngine() { return engineSlot(); }

QUrl HTMLPageViewController::setSearchEngine(const QUrl& engine) { return std::exchange(engineSlot(), engine); }

HTMLPageViewController::HTMLPageViewController(HTMLPageViewControllerDelegate* delegate, const QString& urlString)
    : mIsThisAEditSession(!urlString.isNull()) {
  mDelegate.reset(delegate);
  const QString missing = platform::pathForResource(QStringLiteral("missing"), QStringLiteral("html"));
  if (!missing.isEmpty()) mMissingPageURL = QUrl::fromLocalFile(missing);
  setActionHandler(platform::Actions::cancelOperation, [this](const platform::ActionSender&) { cancelOperation(); });
  view();
  if (!urlString.isNull()) {
    setFieldText(urlString);
    startLoadingPage(urlString);
  }
}

HTMLPageViewController::~HTMLPageViewController() {
  if (mWebView) mWebView->setDelegate(nullptr);
}

std::shared_ptr<HTMLPageViewController> HTMLPageViewController::createShowingPages(
    HTMLPageViewControllerDelegate* delegate, const QString& urlString) {
  auto panel = std::make_shared<HTMLPageViewController>(delegate, urlString);
  if (panel->webView() || panel->isWaitingForEngine()) return panel;
  showEngineError();
  return nullptr;
}

void HTMLPageViewController::showEngineError() {
  // The reason is filled in after the lookup, so that the table's text keeps it.
  CustomAlertView::showErrorResult(MyResult::error(
      QString(), Globals::normalLocalizedStringForKey(QStringLiteral("WebPagesNotAvailable"),
                                                      QStringLiteral("Web pages cannot be shown: %1"))
                     .arg(platform::webEngineLoadError())));
}

void HTMLPageViewController::engineIsReady() {
  if (!mWaitingForEngine) return;
  mWaitingForEngine = false;
  if (mDismissed) return;
  std::function<void()> load = std::move(mLoadOnceReady);
  switchToFreshWebView();
  if (!mWebView) {
    // The engine could not be loaded after all: the panel has nothing to offer.
    showEngineError();
    closeButtonPressed();
    return;
  }
  if (load) load();
  updateView();
}

namespace {
void storeLink(Idea& idea, const QString& url, const QImage& picture) {
  idea.setURL(url);
  if (!picture.isNull()) idea.replaceWithOriginalImage(KitImage(picture));
}
}  // namespace

bool HTMLPageViewController::storeResultInto(Idea& idea) const {
  if (mResultURL.isNull()) return false;
  storeLink(idea, mResultURL, mResultPageImage);
  return true;
}

QString HTMLPageViewController::fieldText() const { return mSearchTextField->stringValue(); }

void HTMLPageViewController::setFieldText(const QString& text) { mSearchTextField->setStringValue(text); }

// --- building ---

void HTMLPageViewController::loadView() {
  auto root = std::make_shared<PanelRootView>(QBrush(Qt::white), this);
  root->setFrame(QRectF(0, 0, 1000, 700));
  setView(root);
  mTopAreaView = std::make_shared<ColoredView>(QBrush(Globals::colorGrayD7DEE4()));
  root->addSubview(mTopAreaView);
  switchToFreshWebView();

  mCloseButton = std::make_shared<ButtonView>(imageext::deviceImageNamed(QStringLiteral("close")),
                                              imageext::deviceImageNamed(QStringLiteral("close_active")));
  mCloseButton->setFrame(QRectF(0, 0, 28, 28));
  mCloseButton->setDelegate(this);
  mActionButton = std::make_shared<RoundedTextButton>(this, 2);
  mActionButton->setButtonTitle(webaddress::actionTitle(webaddress::kSearchText, false));
  mActionButton->sizeToFit();
  const QImage back = imageext::deviceImageNamed(QStringLiteral("back"));
  mBackButton = std::make_shared<ButtonView>(back, back);
  mBackButton->setFrame(QRectF(0, 0, 28, 28));
  mBackButton->setDelegate(this);
  mBackButton->setHidden(true);
  mSearchTextField = std::make_shared<SearchTextField>(1);
  mSearchTextField->lineEdit()->setPlaceholderText(
      Globals::normalLocalizedStringForKey(QStringLiteral("WebSearchField:Placeholder"), QStringLiteral("Search or type an address")));
  mProgressView = std::make_shared<SpinningProgressIndicator>(QRectF(20, 20, 30, 30));
  mOpenExternallyButton = std::make_shared<RoundedTextButton>(this, 2);
  mOpenExternallyButton->setButtonTitle(QStringLiteral("Open in Browser"));
  mOpenExternallyButton->sizeToFit();
  for (const std::shared_ptr<platform::View>& part :
       std::initializer_list<std::shared_ptr<platform::View>>{mCloseButton, mActionButton, mBackButton,
                                                              mSearchTextField, mProgressView, mOpenExternallyButton})
    root->addSubview(part);

  platform::WeakRef<HTMLPageViewController> self(this);
  QLineEdit* edit = mSearchTextField->lineEdit();
  QObject::connect(edit, &QLineEdit::textEdited, edit, [self] {
    if (HTMLPageViewController* me = self.get()) me->controlTextDidChange();
  });
  // Return; the line edit goes on handling it as well.
  QObject::connect(edit, &QLineEdit::returnPressed, edit, [self] {
    if (HTMLPageViewController* me = self.get()) me->actionButtonPressed();
  });
  auto previous = mSearchTextField->hostedField()->onFocusChange;
  mSearchTextField->hostedField()->onFocusChange = [self, previous] {
    if (previous) previous();
    // Asked after the window has finished moving its first responder.
    platform::mainQueue().async([self] {
      HTMLPageViewController* me = self.get();
      if (!me) return;
      const bool focused = me->mSearchTextField->showsFirstResponder();
      if (focused && !me->mTextFieldIsBeingEdited) me->controlTextDidBeginEditing();
      if (!focused && me->mTextFieldIsBeingEdited) me->controlTextDidEndEditing();
    });
  };
  mKeyWatcher = new EscapeWatcher(this, /*pageOnly=*/false);
  mKeyWatcher->setParent(edit);
  edit->installEventFilter(mKeyWatcher);
  auto* pageKeys = new EscapeWatcher(this, /*pageOnly=*/true);
  pageKeys->setParent(edit);
  QCoreApplication::instance()->installEventFilter(pageKeys);
  updateView();
}

void HTMLPageViewController::switchToFreshWebView() {
  if (mWebView) {
    mWebView->setDelegate(nullptr);
    mWebView->removeFromSuperview();
    // The old page may be reporting right now (a failure starts the next load): it goes on a
    // later turn.
    platform::mainQueue().async([old = std::move(mWebView)] {});
    takeKeys();
  }
  if (mWaitingForEngine) return;
  if (!platform::isWebEngineLoaded() && platform::webEngineLoadError().isEmpty()) {
    // The first page of the process: the engine loads without holding the main thread while
    // the panel shows, and the page view comes once it has.
    mWaitingForEngine = true;
    platform::WeakRef<HTMLPageViewController> self(this);
    platform::prepareWebEngine([self] {
      if (HTMLPageViewController* me = self.get()) me->engineIsReady();
    });
    if (!platform::webEngineLoadError().isEmpty()) mWaitingForEngine = false;
    return;
  }
  mWebView = platform::WebView::create();
  if (!mWebView) return;
  mWebView->setDelegate(this);
  mWebView->setFrame(view()->bounds());
  viewext::insertSubviewBelow(*view(), mWebView, mTopAreaView.get());
  applyLayout();
}

// --- the field ---

void HTMLPageViewController::controlTextDidBeginEditing() {
  mTextFieldIsBeingEdited = true;
  updateView();
}

void HTMLPageViewController::controlTextDidEndEditing() {
  mTextFieldIsBeingEdited = false;
  updateView();
}

void HTMLPageViewController::controlTextDidChange() {
  const webaddress::FieldState state = webaddress::stateForTypedText(fieldText());
  if (state == webaddress::kEmpty || mSearchFieldState != state) {
    mSearchFieldState = state;
    updateView();
  }
}

// --- top bar ---

void HTMLPageViewController::updateView() {
  if (mDismissed || !isViewLoaded()) return;
  mBackButton->setHidden(!(mWebView && mWebView->canGoBack()));
  const auto state = static_cast<webaddress::FieldState>(mSearchFieldState);
  const QString title = webaddress::actionTitle(state, mIsThisAEditSession);
  mActionButton->setHidden(title.isEmpty());
  if (!title.isEmpty()) {
    mActionButton->setButtonTitle(title);
    mActionButton->sizeToFit();
  }
  mOpenExternallyButton->setHidden(!webaddress::showsOpenInBrowser(state));
  const bool spinning = mWebViewState == kWebLoading && !mTextFieldIsBeingEdited;
  mProgressView->setHidden(!spinning);
  if (spinning) viewext::bringSubviewToFront(*view(), mProgressView);
  applyLayout();
}

void HTMLPageViewController::applyLayout() {
  if (mDismissed || !isViewLoaded() || !mSearchTextField) return;
  using namespace viewext;
  const QRectF b = view()->bounds();
  const QRectF bar(b.left(), b.top(), b.width(), kTopBarHeight);
  mTopAreaView->setFrame(bar);
  if (mWebView) mWebView->setFrame(QRectF(b.left(), bar.bottom(), b.width(), std::max(0.0, b.height() - bar.height())));
  const double y = bar.height() / 2;
  const double half = bar.width() / 2;
  setMiddleLeftPosition(*mCloseButton, QPointF(14, y));
  setMiddleRightPosition(*mOpenExternallyButton, QPointF(bar.width() - 14, y));
  double right = mOpenExternallyButton->isHidden() ? bar.width() - 14 : mOpenExternallyButton->frame().left() - 10;
  if (!mActionButton->isHidden()) right -= mActionButton->frame().width() + 6;
  double left = mCloseButton->frame().right() + 10;
  if (!mBackButton->isHidden()) left += mBackButton->frame().width() + 6;
  const double width = std::clamp(right - left, 0.0, 500.0);
  mSearchTextField->setFrame(QRectF(0, 0, width, 22));
  if (std::min(half - left, right - half) >= 250)
    setCenter(*mSearchTextField, QPointF(half, y));
  else
    setMiddleRightPosition(*mSearchTextField, QPointF(right, y));
  const QRectF field = mSearchTextField->frame();
  if (!mActionButton->isHidden()) setMiddleLeftPosition(*mActionButton, QPointF(field.right() + 6, y));
  if (!mBackButton->isHidden()) setMiddleRightPosition(*mBackButton, QPointF(field.left() - 6, y));
  setCenter(*mProgressView, b.center());
}

// --- buttons ---

void HTMLPageViewController::roundedTextButtonPressed(RoundedTextButton& button) {
  if (mDismissed) return;
  if (&button == mActionButton.get()) actionButtonPressed();
  if (&button == mOpenExternallyButton.get()) openExternallyButtonPressed();
}

void HTMLPageViewController::buttonPressed(ButtonView& button) {
  if (mDismissed) return;
  if (&button == mCloseButton.get()) closeButtonPressed();
  if (&button == mBackButton.get()) backButtonPressed();
}

void HTMLPageViewController::actionButtonPressed() {
  if (mDismissed) return;
  switch (mSearchFieldState) {
    case webaddress::kLoaded: {
      const QString url = fieldText();
      const QImage picture = captureWebviewImage();
      if (mEditRoom &&
          !mEditRoom->holdRoomFor(IdeaEditRoom::Picture, [&](Idea& idea) { storeLink(idea, url, picture); })) {
        tellRefusal(view().get(), mEditRoom->refusal());
        break;
      }
      mResultURL = url;
      mResultPageImage = picture;
      performDismissalViaDelegate();
      break;
    }
    case webaddress::kAddressLike:
      resignFieldFocus();
      startLoadingPage(fieldText());
      break;
    case webaddress::kSearchText:
      resignFieldFocus();
      startSearch();
      break;
    default:
      break;
  }
}

void HTMLPageViewController::backButtonPressed() {
  if (mDismissed || !mWebView || !mWebView->canGoBack()) return;
  resignFieldFocus();
  mWebView->goBack();
}

void HTMLPageViewController::openExternallyButtonPressed() {
  if (mDismissed) return;
  const QUrl url = webaddress::validURLorNil(fieldText());
  if (url.isValid()) platform::openURL(url);
}

void HTMLPageViewController::closeButtonPressed() {
  if (mDismissed) return;
  mResultURL = QString();
  mResultPageImage = QImage();
  performDismissalViaDelegate();
}

void HTMLPageViewController::cancelOperation() {
  if (mDismissed) return;
  performDismissalViaDelegate();
}

void HTMLPageViewController::performDismissalViaDelegate() {
  mDismissed = true;
  // The keys go back to whoever had them before the panel took them.
  platform::Window* w = viewWindow();
  auto* holder = w ? dynamic_cast<platform::View*>(w->firstResponder()) : nullptr;
  if (holder && holder->isDescendantOf(view().get())) {
    auto* before = dynamic_cast<platform::View*>(mKeysBefore.get());
    w->makeFirstResponder(before && before->window() == w ? before : nullptr);
  }
  view()->setHidden(true);
  if (HTMLPageViewControllerDelegate* d = mDelegate.get()) d->pleaseDismissHTMLPageView(*this);
}

void HTMLPageViewController::resignFieldFocus() {
  if (platform::Window* w = viewWindow(); w && mSearchTextField->showsFirstResponder())
    w->makeFirstResponder(view().get());
  if (mSearchTextField->lineEdit()->hasFocus()) mSearchTextField->lineEdit()->clearFocus();
}

void HTMLPageViewController::takeKeys() {
  platform::Window* w = viewWindow();
  if (!w || mDismissed) return;
  platform::Responder* holder = w->firstResponder();
  if (auto* v = dynamic_cast<platform::View*>(holder); v && v->isDescendantOf(view().get())) return;
  if (holder != w) mKeysBefore.reset(holder);
  w->makeFirstResponder(view().get());
}

// --- loading ---

void HTMLPageViewController::startSearch() {
  startLoadingPage(webaddress::searchURL(fieldText(), searchEngine()).toString(QUrl::FullyEncoded));
}

void HTMLPageViewController::startLoadingPage(const QString& text) {
  const QUrl url = webaddress::validURLorNil(text);
  if (!url.isValid()) return;
  setFieldText(text);
  startLoadingPageWithURL(url);
}

void HTMLPageViewController::startLoadingPageWithURL(const QUrl& url) {
  if (mDismissed || url.isEmpty()) return;
  mWebViewState = kWebLoading;
  mLoadingMissingPage = url == mMissingPageURL;
  mShowsEmptyPage = false;
  switchToFreshWebView();
  if (mWebView) mWebView->loadURL(url);
  if (mWaitingForEngine)
    mLoadOnceReady = [this, url] {
      if (mWebView) mWebView->loadURL(url);
    };
  mSearchFieldState = webaddress::kLoading;
  updateView();
}

void HTMLPageViewController::showEmptyPage() {
  mShowsEmptyPage = true;
  mLoadingMissingPage = false;
  switchToFreshWebView();
  if (mWebView) mWebView->loadHTMLString(QString());
  mWebViewState = kWebFinished;
  mSearchFieldState = webaddress::kAddressLike;
  updateView();
}

bool HTMLPageViewController::isCurrent(const platform::WebView& webView) const {
  return !mDismissed && !mShowsEmptyPage && &webView == mWebView.get();
}

void HTMLPageViewController::webViewDidStartProvisionalLoad(platform::WebView& webView) {
  if (!isCurrent(webView)) return;
  mWebViewState = kWebLoading;
  updateView();
}

void HTMLPageViewController::webViewDidFinishLoad(platform::WebView& webView) {
  if (isCurrent(webView)) webViewDidFinishLoading();
}

void HTMLPageViewController::webViewDidFailLoad(platform::WebView& webView) {
  if (!isCurrent(webView)) return;
  // The missing page gets one attempt; a missing page that fails itself leaves an empty one.
  if (mLoadingMissingPage || mMissingPageURL.isEmpty())
    showEmptyPage();
  else
    startLoadingPageWithURL(mMissingPageURL);
}

bool HTMLPageViewController::webViewShouldNavigate(platform::WebView& /*webView*/, const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         (!mMissingPageURL.isEmpty() && url == mMissingPageURL);
}

void HTMLPageViewController::webViewDidFinishLoading() {
  bool changed = false;
  if (mWebViewState == kWebLoading) {
    mWebViewState = kWebFinished;
    changed = true;
  }
  const QUrl document = mWebView ? mWebView->mainDocumentURL() : QUrl();
  if (!document.isEmpty()) {
    changed = true;
    if (document.adjusted(QUrl::RemoveFragment) != mMissingPageURL) {
      setFieldText(document.toString(QUrl::FullyEncoded));
      mSearchFieldState = webaddress::kLoaded;
    }
  }
  if (mSearchFieldState == webaddress::kLoading) mSearchFieldState = webaddress::kAddressLike;
  if (changed) updateView();
}

// --- the picture ---

QImage HTMLPageViewController::captureWebviewImage() const {
  if (!mWebView) return {};
  // What the view shows of the page: never the whole page, and without the scroll bar beside it.
  const QSizeF shown = mWebView->bounds().size();
  const QSizeF page = mWebView->documentSize();
  const double width = page.width() > 0 ? std::min(shown.width(), page.width()) : shown.width();
  const double height = page.height() > 0 ? std::min(shown.height(), page.height()) : shown.height();
  const double side = std::min(width, height);
  if (width <= 0 || side <= 0) return {};
  QImage image = mWebView->grabRect(QRectF(0, 0, width, side));
  if (image.isNull() || image.width() <= 0) return {};
  image.setDevicePixelRatio(image.width() / kPictureWidth);
  return image;
}

// --- appearance ---

void HTMLPageViewController::viewDidAppear() {
  if (mFirstAppearanceDone) return;
  mFirstAppearanceDone = true;
  takeKeys();
  if (!fieldText().isEmpty()) return;
  if (platform::Window* w = viewWindow()) w->makeFirstResponder(mSearchTextField->hostedField().get());
  mSearchTextField->lineEdit()->selectAll();
}

void HTMLPageViewController::viewDidDisappear() {
  // Stops the page and its sounds.
  if (mWebView) mWebView->loadHTMLString(QString());
}

}  // namespace orrery
