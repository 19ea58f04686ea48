#pragma once
// A page on Qt WebEngine, kept small and closed: one off-the-record profile without a cache
// for every page, no second windows, no downloads, no JavaScript dialogs, no permissions, no
// file choosers, and a context menu without the items that would open a window or a tab,
// download, save, view the source or inspect. Main thread only.

#include "platform/ui/web_content.h"

#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;

namespace platform {

class GuardedWebPage : public QWebEnginePage {
 public:
  GuardedWebPage(QWebEngineProfile* profile, QObject* parent);
  std::function<bool(const QUrl&)> shouldNavigate;
  // Messages the page's scripts post through the message handlers' console channel.
  std::function<void(const QString& name, const QString& body)> scriptMessage;
  // The page-side handler: window.webkit.messageHandlers.<name>.postMessage(value) hands the
  // value's JSON text to scriptMessage. Run as the document is created, before the page's scripts.
  QString messageHandlerScript(const QString& name) const;

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
  void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
  bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;
  QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                          const QStringList& acceptedMimeTypes) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                const QString& sourceID) override;

 private:
  // Starts the console lines that carry a message; unknown to the page, so it cannot write one.
  const QString mMessagePrefix;
};

class EngineWebContent : public QWebEngineView, public WebContent {
 public:
  EngineWebContent();

  QWidget* widget() override { return this; }
  bool hasDrawingSurface() const override;
  void setCallbacks(Callbacks callbacks) override;
  void load(const QUrl& url) override;
  void loadHtml(const QString& html) override;
  QUrl url() const override;
  bool canGoBack() const override;
  void goBack() override;
  QSizeF contentsSize() const override;
  QImage grab(const QRect& rect) override;
  void addUserScript(const QString& source, bool atDocumentEnd, bool mainFrameOnly) override;
  void addScriptMessageHandler(const QString& name) override;

  // The one profile every page shares.
  static QWebEngineProfile* sharedProfile();
  // Whether a context-menu action may stay in the page's menu.
  static bool isOfferedInMenu(QWebEnginePage::WebAction action);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  GuardedWebPage* mPage;
  Callbacks mCallbacks;
  QStringList mMessageHandlers;
};

}  // namespace platform
