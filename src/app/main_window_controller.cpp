#include "app/main_window_controller.h"

#include "app/app_delegate.h"
#include "app/window_arrangement.h"
#include "app/window_placement.h"
#include "foundation/dictionary_extensions.h"
#include "foundation/globals.h"
#include "foundation/views/screenshot.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "shell/screen_factory.h"
#include "shell/welcome_screen_view.h"

#include <QGuiApplication>
#include <QScreen>

namespace orrery {
namespace {

QRectF primaryAvailableArea() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? QRectF(screen->availableGeometry()) : QRectF();
}

}  // namespace

MainWindowController::MainWindowController(Token) : mWindow(prepareWindow()) {
  mWindow->setDelegate(this);
  arrangement::refitWhenDecorated(*mWindow);
}

MainWindowController::~MainWindowController() {
  if (mWindow) mWindow->setDelegate(nullptr);
}

std::shared_ptr<DragSupportWindow> MainWindowController::prepareWindow() {
  const QRectF frame = placement::newWindowFrame(primaryAvailableArea());
  auto window = std::make_shared<DragSupportWindow>(frame.size());
  // The whole window, its menu bar included, takes the frame: made with that content size it
  // would reach past the bottom of a screen it was fitted to.
  window->setFrame(frame);
  window->setBackgroundColor(Qt::white);
  window->setTitle(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Orrery Desktop")));
  return window;
}

std::shared_ptr<MainWindowController> MainWindowController::createCloudWindow(DocumentLocation location) {
  auto controller = std::make_shared<MainWindowController>(Token());
  controller->showCloudHome(location);
  return controller;
}

std::shared_ptr<MainWindowController> MainWindowController::createDocumentWindow(
    const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString& ideaIdentifier,
    WindowInitialAction action) {
  auto controller = std::make_shared<MainWindowController>(Token());
  if (doc && doc->location() == DocumentLocationTemp) controller->mScratchDocument = doc;
  controller->showDocument(doc, token, ideaIdentifier, action);
  return controller;
}

std::shared_ptr<MainWindowController> MainWindowController::createForRestoration() {
  return std::make_shared<MainWindowController>(Token());
}

void MainWindowController::showWindow() {
  if (!mScreenPending) mWindow->makeKeyAndOrderFront();
}

// A window shows once its screen is in: its first frame is then the screen, not an empty
// window that the screen replaces a frame later.
void MainWindowController::showCloudHome(DocumentLocation location) {
  mScreenPending = true;
  std::weak_ptr<MainWindowController> weakSelf = weak_from_this();
  platform::mainQueue().async([weakSelf, location] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->mScreenPending = false;
    auto home = screenFactory().makeHome(location, QString());
    self->mControllerClass = QString::fromLatin1(kHomeControllerClass);
    self->mWindow->switchToViewController(home, [self] {
      self->mWindow->contentView()->setNeedsLayout();
      self->mWindow->makeKeyAndOrderFront();
    });
  });
}

void MainWindowController::showDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                        const QString& ideaIdentifier, WindowInitialAction action) {
  mScreenPending = true;
  std::weak_ptr<MainWindowController> weakSelf = weak_from_this();
  platform::mainQueue().async([weakSelf, doc, token, ideaIdentifier, action] {
    auto self = weakSelf.lock();
    if (!self) {
      // The window went before it was filled: nobody took over the token.
      if (doc && token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      return;
    }
    self->mScreenPending = false;
    auto editor = screenFactory().makeEditor(doc, token, ideaIdentifier);
    self->mControllerClass = QString::fromLatin1(kDocumentControllerClass);
    self->mWindow->switchToViewController(editor, [self, editor, doc, ideaIdentifier, action] {
      self->mWindow->contentView()->setNeedsLayout();
      self->mWindow->makeKeyAndOrderFront();
      // The welcome card and the edit panel wait for the document's first frame: the window
      // shows without them first (the panel is a window of its own, not needed for that frame).
      std::function<void()> initial;
      if (action == kWindowInitialActionShowWelcome) {
        std::weak_ptr<MainWindowController> weakWindow = self;
        initial = [weakWindow] {
          if (auto shown = weakWindow.lock()) shown->showWelcomeScreen();
        };
      } else if (action == kWindowInitialActionEditCentralIdea) {
        QString idea = ideaIdentifier;
        if (idea.isEmpty() && doc && doc->idea()) idea = doc->idea()->identifier();
        std::weak_ptr<MainWindowController> weakWindow = self;
        std::weak_ptr<BaseViewController> weakEditor = editor;
        initial = [weakWindow, weakEditor, idea] {
          // Only while the editor is still the window's screen.
          auto window = weakWindow.lock();
          auto shown = weakEditor.lock();
          if (window && shown && window->mWindow->controller() == shown) screenFactory().onEditIdea(*shown, idea);
        };
      }
      if (!initial) return;
      if (AppDelegate* app = AppDelegate::current())
        app->afterFirstFrame(std::move(initial));
      else
        initial();
    });
  });
}

void MainWindowController::showWelcomeScreen() {
  mWindow->makeKeyAndOrderFront();
  auto& container = *mWindow->containerView();
  mWindow->displayIfNeeded();
  auto screen = std::make_shared<WelcomeScreenView>(kitImageByCapturingScreenshot(container));
  container.addSubview(screen);
  screen->forceDirtyLayout();
  screen->takeTheKeys();
}

bool MainWindowController::showsUntouchedScratchDocument() const {
  const auto doc = mScratchDocument.lock();
  if (!doc || doc->location() != DocumentLocationTemp || doc->dateModified() != doc->dateCreated()) return false;
  const auto& controller = mWindow->controller();
  if (!controller || controller->storedClassName() != QLatin1String(kDocumentControllerClass)) return false;
  const auto& root = doc->idea();
  return !root || (root->text().isEmpty() && root->ideas().empty() && !root->hasNote());
}

QVariantMap MainWindowController::createState() const {
  if (showsUntouchedScratchDocument()) return {};
  const auto& controller = mWindow->controller();
  // The screens switch among themselves (the editor's home button, a document opened from the
  // home screen): the class stored is that of the screen shown now.
  QString className = controller ? controller->storedClassName() : QString();
  if (className.isEmpty()) className = mControllerClass;
  if (!controller || className.isEmpty()) return {};
  const QVariantMap state = controller->createState();
  if (state.isEmpty()) return {};
  QVariantMap result{{QString::fromLatin1(kControllerClassKey), className},
                     {QString::fromLatin1(kControllerStateKey), state}};
  dictext::setRect(result, arrangement::storableFrame(*mWindow), QString::fromLatin1(kWindowFrameKey));
  return result;
}

bool MainWindowController::restoreFromState(const QVariantMap& state) {
  const QRectF stored = dictext::rectForKey(state, QString::fromLatin1(kWindowFrameKey));
  arrangement::applyStorableFrame(
      *mWindow, placement::fittedStoredFrame(stored, arrangement::availableAreas(),
                                             QSizeF(placement::kMinimumWidth, placement::kMinimumHeight)));
  const QString className = state.value(QString::fromLatin1(kControllerClassKey)).toString();
  const QVariantMap controllerState = state.value(QString::fromLatin1(kControllerStateKey)).toMap();
  if (className == QLatin1String(kHomeControllerClass)) {
    std::weak_ptr<MainWindowController> weakSelf = weak_from_this();
    platform::mainQueue().async([weakSelf, controllerState] {
      auto self = weakSelf.lock();
      if (!self) return;
      auto home = screenFactory().makeHomeForRestoration();
      self->mControllerClass = QString::fromLatin1(kHomeControllerClass);
      self->mWindow->switchToViewController(home, [self, home, controllerState] {
        self->mWindow->contentView()->setNeedsLayout();
        home->restoreFromState(controllerState);
      });
    });
    return true;
  }
  if (className == QLatin1String(kDocumentControllerClass)) {
    auto editor = screenFactory().makeEditorForRestoration();
    mControllerClass = className;
    mWindow->switchToViewController(editor, [this, editor, controllerState] {
      mWindow->contentView()->setNeedsLayout();
      editor->restoreFromState(controllerState);
    });
    return true;
  }
  return false;
}

bool MainWindowController::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) {
  return mWindow->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier);
}

bool MainWindowController::windowShouldClose(platform::Window& /*window*/) { return mWindow->windowShouldClose(); }

void MainWindowController::windowWillClose(platform::Window& /*window*/) {
  if (AppDelegate* app = AppDelegate::current()) app->removeWindowController(this);
}

void MainWindowController::windowDidBecomeKey(platform::Window& /*window*/) { mWindow->becomeMainWindow(); }

}  // namespace orrery
