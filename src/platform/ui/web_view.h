#pragma once
// A web page in the view tree. The pages come from the web engine module, a library of its
// own that is loaded the first time a WebView is made, so start-up and the screens without
// pages never load the web engine. A page composes with OpenGL: it shows in a native child
// window of its own (native_host_window.h), made once the page has its drawing surface, so the
// window holding it keeps its raster drawing. Main thread only.
//
// The module is looked for where ORRERY_WEB_MODULE names it, beside the executable, then in
// the install prefix's folder for the program's own libraries (lib/<multiarch>/orrery on Debian).

#include "platform/ui/native_host_view.h"
#include "platform/ui/weak_ref.h"
#include "platform/ui/web_content.h"

#include <QImage>
#include <QSizeF>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>

namespace platform {

class WebView;

class WebViewDelegate : public virtual Trackable {
 public:
  virtual void webViewDidStartProvisionalLoad(WebView& /*webView*/) {}
  virtual void webViewDidFinishLoad(WebView& /*webView*/) {}
  virtual void webViewDidFailLoad(WebView& /*webView*/) {}
  // A main-frame navigation the page itself starts; false refuses it.
  virtual bool webViewShouldNavigate(WebView& /*webView*/, const QUrl& /*url*/) { return true; }
};

// Before the application object exists: what the web engine needs of the process (no sandbox
// when running as root, where the engine's sandbox cannot start). OpenGL is not asked for:
// the engine's shared context is made when the engine loads.
void prepareWebEngineBeforeApplication();

// Whether the module is in the process; loading is what WebView::create does, or
// prepareWebEngine without holding the main thread.
bool isWebEngineLoaded();
// Whether prepareWebEngine is loading the module.
bool isWebEngineLoading();
// Loads the module without holding the main thread for long: its libraries (the engine, and
// the OpenGL it draws with) on a background thread, then its root object and the engine's
// start on separate turns of the main thread. `ready` runs on the main thread on a later turn
// once WebView::create answers without loading: a view, or null when the module cannot be
// loaded (webEngineLoadError says why, already when no module file is found at the call).
// A create() meanwhile waits for the background load.
void prepareWebEngine(std::function<void()> ready);
// Why the module could not be loaded (empty when it was, or was never tried).
QString webEngineLoadError();

// Called with every WebView made, before it loads anything (the application installs one at
// start-up to watch every page). Answers the hook it replaces.
using WebViewCreationHook = std::function<void(WebView&)>;
WebViewCreationHook setWebViewCreationHook(WebViewCreationHook hook);

class WebView : public NativeHostView {
  struct Private {};

 public:
  // Null when the web engine module cannot be loaded (the reason is logged once). The
  // creation hook has seen a view that is answered.
  static std::shared_ptr<WebView> create();
  WebView(Private, WebContent* content);

  WebViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(WebViewDelegate* delegate) { mDelegate.reset(delegate); }

  void loadURL(const QUrl& url);
  void loadHTMLString(const QString& html);
  // The main document's address (after redirects).
  QUrl mainDocumentURL() const;
  bool canGoBack() const;
  void goBack();
  // The whole page's size in points; empty before its first layout.
  QSizeF documentSize() const;
  // What the view shows in `rect` (view coordinates, points); null when nothing is shown.
  QImage grabRect(const QRectF& rect) const;

  // A script run in every document loaded from now on, beside the page's own scripts: when the
  // document has been parsed (else as it is created), in the main frame only or in every frame.
  void addUserScript(const QString& source, bool atDocumentEnd, bool mainFrameOnly);
  // What documents loaded from now on post with window.webkit.messageHandlers.<name>.postMessage(v)
  // reaches `handler` as the JSON text of v, on the main thread. A later handler of the same
  // name replaces the earlier.
  using ScriptMessageHandler = std::function<void(const QString& body)>;
  void addScriptMessageHandler(const QString& name, ScriptMessageHandler handler);

 protected:
  bool isReadyForWindowOfItsOwn() const override;

 private:
  WebContent* content() const { return widget() ? mContent : nullptr; }
  // After a load has begun: the page may have its surface now.
  void showOnceReady();

  WebContent* mContent;  // owned by the hosted widget (the content is that widget)
  WeakRef<WebViewDelegate> mDelegate;
  std::map<QString, ScriptMessageHandler> mScriptMessageHandlers;
};

}  // namespace platform
