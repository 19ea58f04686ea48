#include "platform/web/engine_web_content.h"

#include <QContextMenuEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QUuid>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace platform {

namespace {

// A JavaScript string literal of the text.
QString scriptString(const QString& text) {
  const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The page side of a message handler. The console function and JSON are taken before the
// page's scripts run, so a page that replaces them does not cut the channel; the handler
// itself cannot be replaced.
const char kMessageHandlerScript[] = R"JS((function (name, prefix) {
  var log = console.debug.bind(console), stringify = JSON.stringify;
  var webkit = window.webkit || (window.webkit = {});
  var handlers = webkit.messageHandlers || (webkit.messageHandlers = {});
  if (Object.prototype.hasOwnProperty.call(handlers, name)) return;
  var handler = Object.freeze({ postMessage: function (body) {
    var text = stringify(body);
    log(prefix + stringify([name, text === undefined ? 'null' : text]));
  } });
  Object.defineProperty(handlers, name, { value: handler, enumerable: true });
})(%1, %2);
)JS";

}  // namespace

GuardedWebPage::GuardedWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent),
      mMessagePrefix(QStringLiteral("orrery-message ") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                     QLatin1Char(' ')) {
  connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
    setFeaturePermission(origin, feature, PermissionDeniedByUser);
  });
  connect(this, &QWebEnginePage::fullScreenRequested, this,
          [](QWebEngineFullScreenRequest request) { request.reject(); });
}

bool GuardedWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  // Typed loads are the application's own (load, loadHtml); everything else the page started.
  if (!isMainFrame || type == NavigationTypeTyped) return true;
  return !shouldNavigate || shouldNavigate(url);
}

QString GuardedWebPage::messageHandlerScript(const QString& name) const {
  return QString::fromLatin1(kMessageHandlerScript).arg(scriptString(name), scriptString(mMessagePrefix));
}

void GuardedWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                              int lineNumber, const QString& sourceID) {
  if (!message.startsWith(mMessagePrefix)) {
    QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
    return;
  }
  const QJsonArray parts = QJsonDocument::fromJson(message.mid(mMessagePrefix.size()).toUtf8()).array();
  if (parts.size() == 2 && scriptMessage) scriptMessage(parts[0].toString(), parts[1].toString());
}

QWebEnginePage* GuardedWebPage::createWindow(WebWindowType /*type*/) { return nullptr; }

void GuardedWebPage::javaScriptAlert(const QUrl& /*securityOrigin*/, const QString& /*msg*/) {}

bool GuardedWebPage::javaScriptConfirm(const QUrl& /*securityOrigin*/, const QString& /*msg*/) { return false; }

bool GuardedWebPage::javaScriptPrompt(const QUrl& /*securityOrigin*/, const QString& /*msg*/,
                                      const QString& /*defaultValue*/, QString* /*result*/) {
  return false;
}

QStringList GuardedWebPage::chooseFiles(FileSelectionMode /*mode*/, const QStringList& /*oldFiles*/,
                                        const QStringList& /*acceptedMimeTypes*/) {
  return {};
}

QWebEngineProfile* EngineWebContent::sharedProfile() {
  // Pages must not outlive their profile, and a page may still be open when the application
  // object goes: the profile is never deleted.
  static QWebEngineProfile* profile = [] {
    auto* p = new QWebEngineProfile();  // no storage name: off the record
    p->setHttpCacheType(QWebEngineProfile::NoCache);
    p->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    QObject::connect(p, &QWebEngineProfile::downloadRequested, p,
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
    QWebEngineSettings* s = p->settings();
    // A failure shows the application's own page, not the engine's.
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    // Addresses of other programs (mail, custom handlers) are never handed to the desktop.
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    return p;
  }();
  return profile;
}

EngineWebContent::EngineWebContent() : mPage(new GuardedWebPage(sharedProfile(), this)) {
  setPage(mPage);
  connect(mPage, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
      case QWebEngineLoadingInfo::LoadStartedStatus:
        if (mCallbacks.loadStarted) mCallbacks.loadStarted();
        break;
      // A stopped load (refused, or replaced by another) leaves the page that was there.
      case QWebEngineLoadingInfo::LoadStoppedStatus:
      case QWebEngineLoadingInfo::LoadSucceededStatus:
        if (mCallbacks.loadFinished) mCallbacks.loadFinished(true);
        break;
      case QWebEngineLoadingInfo::LoadFailedStatus:
        if (mCallbacks.loadFinished) mCallbacks.loadFinished(false);
        break;
    }
  });
}

void EngineWebContent::setCallbacks(Callbacks callbacks) {
  mCallbacks = std::move(callbacks);
  mPage->shouldNavigate = mCallbacks.shouldNavigate;
  mPage->scriptMessage = mCallbacks.scriptMessage;
}

void EngineWebContent::addUserScript(const QString& source, bool atDocumentEnd, bool mainFrameOnly) {
  QWebEngineScript script;
  script.setName(QStringLiteral("orrery-user-script-%1").arg(mPage->scripts().count()));
  script.setSourceCode(source);
  script.setInjectionPoint(atDocumentEnd ? QWebEngineScript::DocumentReady : QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(!mainFrameOnly);
  mPage->scripts().insert(script);
}

void EngineWebContent::addScriptMessageHandler(const QString& name) {
  if (mMessageHandlers.contains(name)) return;
  mMessageHandlers << name;
  addUserScript(mPage->messageHandlerScript(name), /*atDocumentEnd=*/false, /*mainFrameOnly=*/false);
}

void EngineWebContent::load(const QUrl& url) { QWebEngineView::load(url); }

void EngineWebContent::loadHtml(const QString& html) { setHtml(html); }

// The engine's drawing widget becomes the view's focus proxy as it is made.
bool EngineWebContent::hasDrawingSurface() const { return focusProxy() != nullptr; }

QUrl EngineWebContent::url() const { return mPage->url(); }

bool EngineWebContent::canGoBack() const { return mPage->history()->canGoBack(); }

void EngineWebContent::goBack() { back(); }

QSizeF EngineWebContent::contentsSize() const {
  const double zoom = mPage->zoomFactor() > 0 ? mPage->zoomFactor() : 1;
  return mPage->contentsSize() / zoom;
}

QImage EngineWebContent::grab(const QRect& rect) { return QWidget::grab(rect).toImage(); }

bool EngineWebContent::isOfferedInMenu(QWebEnginePage::WebAction action) {
  switch (action) {
    case QWebEnginePage::OpenLinkInNewWindow:
    case QWebEnginePage::OpenLinkInNewTab:
    case QWebEnginePage::OpenLinkInNewBackgroundTab:
    case QWebEnginePage::DownloadLinkToDisk:
    case QWebEnginePage::DownloadImageToDisk:
    case QWebEnginePage::DownloadMediaToDisk:
    case QWebEnginePage::SavePage:
    case QWebEnginePage::ViewSource:
    case QWebEnginePage::InspectElement:
      return false;
    default:
      return true;
  }
}

void EngineWebContent::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  if (!menu) return;
  for (int a = 0; a < QWebEnginePage::WebActionCount; ++a) {
    const auto action = static_cast<QWebEnginePage::WebAction>(a);
    if (!isOfferedInMenu(action)) menu->removeAction(mPage->action(action));
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

}  // namespace platform
