// The application delegate's window registry: the main windows, where each goes, and the
// stored window state ("CurrentState" and the local files' windows) with its 5-second cycle.

#include "app/app_delegate.h"

#include "app/local_document_windows.h"
#include "app/window_arrangement.h"
#include "app/window_placement.h"
#include "foundation/dictionary_extensions.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "platform/core/dispatch.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"

#include <QMainWindow>
#include <QWindow>

#include <algorithm>

namespace orrery {
namespace {

platform::UserDefaults& windowDefaults() { return platform::UserDefaults::standard(); }

QString canonicalURLPath(const QUrl& url) {
  return url.isLocalFile() ? localwindows::canonicalPath(url.toLocalFile()) : QString();
}

}  // namespace

// Window registry.

void AppDelegate::addAndShowNewWindowController(const std::shared_ptr<MainWindowController>& controller,
                                                std::optional<QRectF> storedFrame) {
  if (!controller) return;
  platform::Window* main = platform::Application::shared().keyWindow();
  const QRectF mainFrame = main ? main->frame() : QRectF();
  mWindowControllers.push_back(controller);
  controller->showWindow();
  if (storedFrame) {
    arrangement::applyStorableFrame(controller->myWindow(), *storedFrame);
  } else if (main && main != &controller->myWindow()) {
    const QRectF area = arrangement::availableAreaFor(mainFrame);
    if (auto frame = placement::cascadedFrame(area, mainFrame, controller->myWindow().frame()))
      controller->myWindow().setFrame(*frame);
  }
  keepInsideAndUncovered(*controller);
  markPersistentAppStateDirty();
}

void AppDelegate::keepInsideAndUncovered(MainWindowController& controller) {
  // The main window may not be the window opened last (a window manager activates windows
  // late, files open in any order): every other window counts.
  QList<QRectF> others;
  for (const auto& c : mWindowControllers)
    if (c.get() != &controller) others.append(c->myWindow().frame());
  arrangement::keepInsideAndUncovered(controller.myWindow(), others);
}

void AppDelegate::removeWindowController(MainWindowController* controller) {
  auto it = std::find_if(mWindowControllers.begin(), mWindowControllers.end(),
                         [&](const auto& c) { return c.get() == controller; });
  if (it == mWindowControllers.end()) return;
  // Kept alive until the window has finished closing.
  auto keep = *it;
  mWindowControllers.erase(it);
  markPersistentAppStateDirty();
  platform::mainQueue().async([keep] {});
  const bool unshown = std::erase(mClosingUnshown, controller) > 0;
  // A window of the last run that could not come back leaves the start's first window, as a
  // file of the last run that no longer opens does.
  if (unshown && mWindowControllers.empty() && !mTerminating) {
    platform::mainQueue().async([] {
      if (AppDelegate* app = current(); app && app->mWindowControllers.empty() && !app->mTerminating)
        app->openStandInWindow();
    });
    return;
  }
  windowDidClose();
}

void AppDelegate::windowDidClose() {
  if (mTerminating) return;
  // The window is still on the screen while it closes.
  platform::mainQueue().async([] {
    if (AppDelegate* app = current(); app && !app->mTerminating && !app->hasOpenWindow()) app->terminate();
  });
}

// Preferences, About and Legal Notices count as much as a map does. A popover stands for the
// window it belongs to (its transient parent), as in Qt's own count of primary windows.
bool AppDelegate::hasOpenWindow() const {
  if (!mWindowControllers.empty()) return true;
  const auto& windows = platform::Application::shared().windows();
  return std::any_of(windows.begin(), windows.end(), [](const platform::Window* window) {
    const QWindow* handle = window->widget()->windowHandle();
    return window->isVisible() && !(handle && handle->transientParent());
  });
}

MyWindow* AppDelegate::findWindowWithURL(const QUrl& url) const {
  const QString path = canonicalURLPath(url);
  for (const auto& c : mWindowControllers) {
    const QUrl docURL = c->myWindow().docURL();
    if (docURL.isEmpty()) continue;
    if (path.isEmpty() ? docURL == url : canonicalURLPath(docURL) == path) return &c->myWindow();
  }
  return nullptr;
}

bool AppDelegate::isFileCurrentlyOpen(const QUrl& fileUrl) { return findWindowWithURL(fileUrl) != nullptr; }

void AppDelegate::storedWindowCannotShow(platform::Window* window, const MyResultPtr& why) {
  if (why && why->isError()) {
    logLine(QStringLiteral("A window of the last run did not come back: %1").arg(why->description()));
    CustomAlertView::showErrorResult(why);
  }
  for (const auto& c : mWindowControllers)
    if (&c->myWindow() == window) mClosingUnshown.push_back(c.get());
}

bool AppDelegate::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) {
  const auto controllers = mWindowControllers;
  for (const auto& c : controllers)
    if (!c->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier)) return false;
  return true;
}

QVariantMap AppDelegate::createState(bool /*quitting*/) const {
  QVariantList states;
  for (const auto& c : mWindowControllers) {
    // Local files come back by their file (updateStoredState), not as a stored screen.
    if (c->myWindow().docURL().isLocalFile()) continue;
    const QVariantMap state = c->createState();
    if (!state.isEmpty()) states.append(state);
  }
  return {{QString::fromLatin1(kControllerStatesKey), states}};
}

bool AppDelegate::restoreFromState(const QVariantMap& state) {
  if (state.isEmpty()) return true;
  bool allRestored = true;
  const QVariant entries = state.value(QString::fromLatin1(kControllerStatesKey));
  if (entries.isValid() && entries.typeId() != QMetaType::QVariantList) {
    logLine(QStringLiteral("Stored window state has no list of windows; nothing restored"));
    return false;
  }
  for (const QVariant& entry : entries.toList()) {
    if (entry.typeId() != QMetaType::QVariantMap) {
      logLine(QStringLiteral("Stored window state holds an entry that is not a window; skipped"));
      allRestored = false;
      continue;
    }
    auto controller = MainWindowController::createForRestoration();
    addAndShowNewWindowController(controller);
    if (!controller->restoreFromState(entry.toMap())) allRestored = false;
    keepInsideAndUncovered(*controller);
  }
  return allRestored;
}

bool AppDelegate::restoreFromStoredState() {
  const QVariant stored = windowDefaults().objectForKey(QString::fromLatin1(kCurrentStateKey));
  if (stored.isValid() && stored.typeId() != QMetaType::QVariantMap) {
    logLine(QStringLiteral("Stored window state \"CurrentState\" is not a dictionary; nothing restored"));
    return false;
  }
  return restoreFromState(stored.toMap());
}

bool AppDelegate::updateStoredState(bool quitting) {
  // Before the stored windows came back, the window set is not the user's: keep the old one.
  if (!mLaunched) return false;
  windowDefaults().setObject(createState(quitting), QString::fromLatin1(kCurrentStateKey));
  // Files of the last run still on their way back count as windows: a quit right after the
  // start keeps them.
  mReopening.removeIf([this](const QString& path) { return findWindowWithURL(QUrl::fromLocalFile(path)); });
  std::vector<QUrl> windowURLs;
  for (const auto& c : mWindowControllers) windowURLs.push_back(c->myWindow().docURL());
  for (const QString& path : std::as_const(mReopening)) windowURLs.push_back(QUrl::fromLocalFile(path));
  windowDefaults().setObject(localwindows::filesOf(windowURLs), QString::fromLatin1(localwindows::kStoredFilesKey));
  std::vector<std::pair<QUrl, QRectF>> frames;
  for (const auto& c : mWindowControllers)
    frames.emplace_back(c->myWindow().docURL(), arrangement::storableFrame(c->myWindow()));
  QVariantMap kept;
  for (const QString& path : std::as_const(mReopening))
    if (mReopenFrames.contains(path)) dictext::setRect(kept, mReopenFrames.value(path), path);
  windowDefaults().setObject(localwindows::framesOf(frames, kept), QString::fromLatin1(localwindows::kStoredFramesKey));
  return true;
}

void AppDelegate::dispatchNextStateUpdate() {
  platform::WeakRef<AppDelegate> self(this);
  platform::mainQueue().after(platform::Millis(kStateCycleMillis), [self] {
    AppDelegate* app = self.get();
    if (!app) return;
    if (app->mStateIsDirty) {
      app->updateStoredState(/*quitting=*/false);
      app->mStateIsDirty = false;
    }
    app->dispatchNextStateUpdate();
  });
}

std::optional<QRectF> AppDelegate::takeReopenFrame(const QString& path) {
  const auto it = mReopenFrames.find(localwindows::canonicalPath(path));
  if (it == mReopenFrames.end()) return std::nullopt;
  const QRectF frame = it.value();
  mReopenFrames.erase(it);
  return frame;
}

}  // namespace orrery
