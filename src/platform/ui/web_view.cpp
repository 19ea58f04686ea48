#include "platform/ui/web_view.h"

#include "platform/core/dispatch.h"
#include "platform/core/system_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QThread>
#include <QWidget>

#include <unistd.h>
#include <vector>

// Qt's process-wide context that every other context shares with (exported by Qt GUI; the
// application object makes it only when asked to before it exists).
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace platform {

namespace {

const char kModuleFile[] = "orrery_web.so";

struct ModuleState {
  bool tried = false;    // the root object was asked for: module or error is known
  bool loading = false;  // the library is being loaded off the main thread
  WebEngineModule* module = nullptr;
  QString error;
  std::vector<std::function<void()>> waiting;  // prepareWebEngine's callers
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
// Made on the calling thread, then handed to the main thread, which the engine uses it on.
void provideGlobalShareContext() {
  if (qt_gl_global_share_context()) return;
  auto* context = new QOpenGLContext();  // lives as long as the engine, for the process
  context->create();
  QThread* main = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
  if (main && context->thread() != main) context->moveToThread(main);
  qt_gl_set_global_share_context(context);
}

// Counts the library's load off the main thread while it runs.
DispatchGroup& libraryLoad() {
  static DispatchGroup group;
  return group;
}

void failLoading(ModuleState& state, const QString& reason) {
  state.tried = true;
  state.error = reason;
  logLine(QStringLiteral("Web pages are not available: %1").arg(state.error).toStdString(), LogLevel::Warning);
}

QString notFound() { return QStringLiteral("%1 not found").arg(QString::fromLatin1(kModuleFile)); }

// The module's root object from a library that is (or is now) in memory; its reason when none.
WebEngineModule* instantiate(const QString& path, QString* reason) {
  // Never unloaded: pages and the engine's threads live until the process ends.
  auto* loader = new QPluginLoader(path);
  if (auto* module = qobject_cast<WebEngineModule*>(loader->instance())) return module;
  *reason = path + QStringLiteral(": ") + loader->errorString();
  delete loader;
  return nullptr;
}

WebEngineModule* loadedModule() {
  ModuleState& state = moduleState();
  if (state.tried) return state.module;
  // Asked for while the library loads off the main thread: that load is waited for, not raced
  // (where the shared context is made on this thread, the turn that makes it is not waited for).
  if (state.loading) libraryLoad().wait(Millis(120000));
  QStringList reasons;
  for (const QString& path : moduleCandidates()) {
    if (!QFileInfo(path).isFile()) continue;
    provideGlobalShareContext();
    QString reason;
    if ((state.module = instantiate(path, &reason))) {
      state.tried = true;
      return state.module;
    }
    reasons << reason;
  }
  failLoading(state, reasons.isEmpty() ? notFound() : reasons.join(QStringLiteral("; ")));
  return nullptr;
}

void answerWaiting() {
  std::vector<std::function<void()>> waiting;
  std::swap(waiting, moduleState().waiting);
  for (const auto& ready : waiting) ready();
}

// On the main thread, once the library is in memory: the root object on one turn, the
// engine's start on the next, each a short hold of the main thread; then the callers.
void finishLoadingOnMainThread(const QString& path, const QString& libraryError) {
  ModuleState& state = moduleState();
  state.loading = false;
  if (state.tried) return answerWaiting();  // a synchronous create() came first
  QString reason = path + QStringLiteral(": ") + libraryError;
  if (libraryError.isEmpty()) state.module = instantiate(path, &reason);
  if (!state.module) {
    failLoading(state, reason);
    return answerWaiting();
  }
  state.tried = true;
  mainQueue().async([] {
    if (WebEngineModule* module = moduleState().module) module->startEngine();
    mainQueue().async(&answerWaiting);
  });
}

// Off the main thread: maps and relocates the engine's libraries, most of a first page's wait.
void loadLibrary(const QString& path) {
  QLibrary library(path);
  library.setLoadHints(QLibrary::PreventUnloadHint);
  const QString error = library.load() ? QString() : library.errorString();
  mainQueue().async([path, error] { finishLoadingOnMainThread(path, error); });
}

}  // namespace

void prepareWebEngine(std::function<void()> ready) {
  ModuleState& state = moduleState();
  state.waiting.push_back(std::move(ready));
  if (state.loading) return;
  if (state.tried) {
    mainQueue().async(&answerWaiting);
    return;
  }
  QString path;
  for (const QString& candidate : moduleCandidates())
    if (QFileInfo(candidate).isFile()) {
      path = candidate;
      break;
    }
  if (path.isEmpty()) {
    failLoading(state, notFound());
    mainQueue().async(&answerWaiting);
    return;
  }
  state.loading = true;
  // Even asking whether OpenGL may be used off the main thread loads it (Mesa and its
  // compiler): it is asked, and the shared context made, beside the library where it may.
  libraryLoad().async(globalQueue(), [path] {
    if (!QOpenGLContext::supportsThreadedOpenGL()) {
      mainQueue().async([path] {
        provideGlobalShareContext();
        libraryLoad().async(globalQueue(), [path] { loadLibrary(path); });
      });
      return;
    }
    provideGlobalShareContext();
    loadLibrary(path);
  });
}

void prepareWebEngineBeforeApplication() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

bool isWebEngineLoaded() { return moduleState().module != nullptr; }

bool isWebEngineLoading() { return moduleState().loading; }

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

WebView::WebView(Private, WebContent* content)
    : NativeHostView(content->widget(), Placement::InWindowOfItsOwn), mContent(content) {
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

bool WebView::isReadyForWindowOfItsOwn() const {
  const WebContent* c = content();
  return c && c->hasDrawingSurface();
}

void WebView::showOnceReady() {
  if (window() && isReadyForWindowOfItsOwn()) syncNativeGeometry();
}

void WebView::loadURL(const QUrl& url) {
  if (WebContent* c = content()) c->load(url);
  showOnceReady();
}

void WebView::loadHTMLString(const QString& html) {
  if (WebContent* c = content()) c->loadHtml(html);
  showOnceReady();
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
