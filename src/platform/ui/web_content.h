#pragma once
// The seam between the application and the web engine module. Only the module links the web
// engine; the application sees pages through these two interfaces, and loads the module the
// first time a page is wanted (see web_view.h). Header only, so the module needs nothing of
// the view kit. Main thread only.

#include <QImage>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QtPlugin>

#include <functional>

class QWidget;

namespace platform {

// One page in a widget. The widget owns the content: deleting it ends both.
class WebContent {
 public:
  struct Callbacks {
    // A main-frame load began (the panel's own, a link, a redirect chain's start).
    std::function<void()> loadStarted;
    // The main frame finished (true) or failed (false).
    std::function<void(bool ok)> loadFinished;
    // Asked for every main-frame navigation the page itself starts (links, scripts, forms,
    // redirects, history); false refuses it. Loads asked for through load() are not asked.
    std::function<bool(const QUrl& url)> shouldNavigate;
    // A message the page posted to a handler added with addScriptMessageHandler: the handler's
    // name and the posted value as JSON text.
    std::function<void(const QString& name, const QString& body)> scriptMessage;
  };

  virtual ~WebContent() = default;
  virtual QWidget* widget() = 0;
  // Whether the widget holds the engine's drawing surface yet (it makes it with the first load).
  // The surface composes with OpenGL: the widget's native window is made once it is there, so
  // that the window is made for OpenGL at once instead of being made again when it comes.
  virtual bool hasDrawingSurface() const = 0;
  virtual void setCallbacks(Callbacks callbacks) = 0;
  // Loads from the network, never from a cache.
  virtual void load(const QUrl& url) = 0;
  // Shows a document made from the text (stops the current page and its sounds).
  virtual void loadHtml(const QString& html) = 0;
  // The main document's address.
  virtual QUrl url() const = 0;
  virtual bool canGoBack() const = 0;
  virtual void goBack() = 0;
  // The whole document's size in points (not only the visible part); empty before layout.
  virtual QSizeF contentsSize() const = 0;
  // What the widget shows in `rect` (widget coordinates), at the screen's pixel ratio.
  virtual QImage grab(const QRect& rect) = 0;
  // A script run in every document loaded from now on, in the page's own script world: when
  // the document has been parsed (else as it is created), in the main frame only or in all.
  virtual void addUserScript(const QString& source, bool atDocumentEnd, bool mainFrameOnly) = 0;
  // Gives documents loaded from now on window.webkit.messageHandlers.<name>.postMessage(value),
  // which hands the value to Callbacks::scriptMessage. A name added twice is added once.
  virtual void addScriptMessageHandler(const QString& name) = 0;
};

// What the module's root object provides.
class WebEngineModule {
 public:
  virtual ~WebEngineModule() = default;
  // A fresh page widget without a parent.
  virtual WebContent* createContent() = 0;
  // Starts the engine itself (what the first page would otherwise start), so that the first
  // createContent holds the main thread less.
  virtual void startEngine() = 0;
};

}  // namespace platform

#define ORRERY_WEB_ENGINE_MODULE_IID "org.orrery.WebEngineModule/2"
Q_DECLARE_INTERFACE(platform::WebEngineModule, ORRERY_WEB_ENGINE_MODULE_IID)
