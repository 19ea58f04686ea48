#include "platform/ui/web_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

// Qt's process-wide context that every other context shares with (exported by Qt GUI; the
// application object makes it only when asked to before it exists).
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace platform {

namespace {

const char kModuleFile[] = "orrery_web.so";

struct ModuleState {
  bool tried = false;
  WebEngineModule* module = nullptr;
  QString error;
};

WebViewCreationHook& creationHook() {
  static WebViewCreationHook hook;
  return hook;
}

ModuleState& moduleState() {
  static ModuleState state;
  return state;
}

QStringList moduleCandidates() {
  QStringList paths;
  const QString named = qEnvironmentVariable("ORRERY_WEB_MODULE");
  if (!named.isEmpty()) paths << named;
  const QString dir = QCoreApplication::applicationDirPath();
  paths << QDir(dir).filePath(QString::fromLatin1(kModuleFile))
        << QDir(dir).filePath(QStringLiteral("../" ORRERY_MODULE_DIR "/") + QString::fromLatin1(kModuleFile));
  return paths;
}

// The engine shares its textures with the views through Qt's global context, and reads that
// context when it loads (it dereferences it even where there is no OpenGL). Asking the
// application object for it would load OpenGL (Mesa and its compiler) at every start, for
// pages most starts never show: it is made here, once, before the engine loads. Where it
// cannot be created (no OpenGL) the engine composes in software, as it would with Qt's own.
void provideGlobalShareContext() {
  if (qt_gl_global_share_context()) return;
  auto* context = new QOpenGLContext();  // lives as long as the engine, for the process
  context->create();
  qt_gl_set_global_share_context(context);
}

WebEngineModule* loadedModule() {
  ModuleState& state = moduleState();
  if (state.tried) return state.module;
  state.tried = true;
  QStringList reasons;
  for (const QString& path : moduleCandidates()) {
    if (!QFileInfo(path).isFile()) continue;
    provideGlobalShareContext();
    // Never unloaded: pages and the engine's threads live until the process ends.
    auto* loader = new QPluginLoader(path);
    QObject* root = loader->instance();
    if (auto* module = qobject_cast<WebEngineModule*>(root)) {
      state.module = module;
      return module;
    }
    reasons << path + QStringLiteral(": ") + loader->errorString();
    delete loader;
  }
  state.error = reasons.isEmpty() ? QStringLiteral("%1 not found").arg(QString::fromLatin1(kModuleFile))
                                  : reasons.join(QStringLiteral("; "));
  std::fprintf(stderr, "Web pages are not available: %s\n", qPrintable(state.error));
  return nullptr;
}

}  // namespace

void prepareWebEngineBeforeApplication() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

bool isWebEngineLoaded() { return moduleState().module != nullptr; }

QString webEngineLoadError() { return moduleState().error; }

WebViewCreationHook setWebViewCreationHook(WebViewCreationHook hook) {
  std::swap(creationHook(), hook);
  return hook;
}

std::shared_ptr<WebView> WebView::create() {
  WebEngineModule* module = loadedModule();
  if (!module) return nullptr;
  WebContent* content = module->createContent();
  if (!content) return nullptr;
  auto view = std::make_shared<WebView>(Private{}, content);
  if (const WebViewCreationHook& hook = creationHook()) hook(*view);
  return view;
}

WebView::WebView(Private, WebContent* content) : NativeHostView(content->widget()), mContent(content) {
  WeakRef<WebView> self(this);
  WebContent::Callbacks callbacks;
  callbacks.loadStarted = [self] {
    WebView* me = self.get();
    if (WebViewDelegate* d = me ? me->delegate() : nullptr) d->webViewDidStartProvisionalLoad(*me);
  };
  callbacks.loadFinished = [self](bool ok) {
    WebView* me = self.get();
    WebViewDelegate* d = me ? me->delegate() : nullptr;
    if (!d) return;
    if (ok)
      d->webViewDidFinishLoad(*me);
    else
      d->webViewDidFailLoad(*me);
  };
  callbacks.shouldNavigate = [self](const QUrl& url) {
    WebView* me = self.get();
    WebViewDelegate* d = me ? me->delegate() : nullptr;
    return !d || d->webViewShouldNavigate(*me, url);
  };
  callbacks.scriptMessage = [self](const QString& name, const QString& body) {
    WebView* me = self.get();
    if (!me) return;
    const auto found = me->mScriptMessageHandlers.find(name);
    if (found == me->mScriptMessageHandlers.end() || !found->second) return;
    // The handler may drop the view: it runs on a copy.
    const ScriptMessageHandler handler = found->second;
    handler(body);
  };
  content->setCallbacks(std::move(callbacks));
}

void WebView::addUserScript(const QString& source, bool atDocumentEnd, bool mainFrameOnly) {
  if (WebContent* c = content()) c->addUserScript(source, atDocumentEnd, mainFrameOnly);
}

void WebView::addScriptMessageHandler(const QString& name, ScriptMessageHandler handler) {
  WebContent* c = content();
  if (!c) return;
  mScriptMessageHandlers[name] = std::move(handler);
  c->addScriptMessageHandler(name);
}

void WebView::loadURL(const QUrl& url) {
  if (WebContent* c = content()) c->load(url);
}

void WebView::loadHTMLString(const QString& html) {
  if (WebContent* c = content()) c->loadHtml(html);
}

QUrl WebView::mainDocumentURL() const {
  const WebContent* c = content();
  return c ? c->url() : QUrl();
}

bool WebView::canGoBack() const {
  const WebContent* c = content();
  return c && c->canGoBack();
}

void WebView::goBack() {
  if (WebContent* c = content()) c->goBack();
}

QSizeF WebView::documentSize() const {
  const WebContent* c = content();
  return c ? c->contentsSize() : QSizeF();
}

QImage WebView::grabRect(const QRectF& rect) const {
  WebContent* c = content();
  const QRect area = rect.toAlignedRect();
  if (!c || area.isEmpty()) return {};
  return c->grab(area);
}

}  // namespace platform
