#include "platform/ui/web_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace platform {

namespace {

const char kModuleFile[] = "orrery_web.so";

struct ModuleState {
  bool tried = false;
  WebEngineModule* module = nullptr;
  QString error;
};

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

WebEngineModule* loadedModule() {
  ModuleState& state = moduleState();
  if (state.tried) return state.module;
  state.tried = true;
  QStringList reasons;
  for (const QString& path : moduleCandidates()) {
    if (!QFileInfo(path).isFile()) continue;
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
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

bool isWebEngineLoaded() { return moduleState().module != nullptr; }

QString webEngineLoadError() { return moduleState().error; }

std::shared_ptr<WebView> WebView::create() {
  WebEngineModule* module = loadedModule();
  if (!module) return nullptr;
  WebContent* content = module->createContent();
  if (!content) return nullptr;
  return std::make_shared<WebView>(Private{}, content);
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
  content->setCallbacks(std::move(callbacks));
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
