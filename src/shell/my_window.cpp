#include "shell/my_window.h"

#include "foundation/animator.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/logging.h"
#include "foundation/views/progress_hud.h"
#include "model/idea.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/native_host_view.h"

#include <QIcon>
#include <QLineEdit>
#include <QMainWindow>
#include <QPixmap>
#include <QTextEdit>

namespace orrery {
using imageext::deviceImageNamed;
namespace {

constexpr char kUndoAction[] = "cmdUndo";
constexpr char kRedoAction[] = "cmdRedo";
constexpr int kMenuRefreshAssertLine = 257;
constexpr char kMenuRefreshOperation[] = "-[MyWindow switchToViewController:animated:onCompletion:]";

// The hosted text control that is first responder, if any.
QWidget* editedTextWidget(platform::Window& window) {
  auto* host = dynamic_cast<platform::NativeHostView*>(window.firstResponder());
  if (!host || !host->widget()) return nullptr;
  if (qobject_cast<QLineEdit*>(host->widget()) || qobject_cast<QTextEdit*>(host->widget())) return host->widget();
  return nullptr;
}

bool canUndo(QWidget* w, bool redo) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) return redo ? line->isRedoAvailable() : line->isUndoAvailable();
  if (auto* text = qobject_cast<QTextEdit*>(w))
    return redo ? text->document()->isRedoAvailable() : text->document()->isUndoAvailable();
  return false;
}

void undo(QWidget* w, bool redo) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) redo ? line->redo() : line->undo();
  if (auto* text = qobject_cast<QTextEdit*>(w)) redo ? text->redo() : text->undo();
}

}  // namespace

MyWindow::MyWindow(const QSizeF& contentSize) : platform::Window(contentSize) {
  setMinSize(QSizeF(kMinimumContentSize, kMinimumContentSize));
  mContainerView = ContainerView::create(QStringLiteral("example_welcome"));
  setContentView(mContainerView);
  platform::WeakRef<MyWindow> self(this);
  setActionHandler(QStringLiteral("performClose"), [self](const platform::ActionSender&) {
    if (MyWindow* w = self.get()) w->performClose();
  });
  for (bool redo : {false, true}) {
    setActionHandler(QString::fromLatin1(redo ? kRedoAction : kUndoAction), [self, redo](const platform::ActionSender&) {
      MyWindow* w = self.get();
      QWidget* edited = w ? editedTextWidget(*w) : nullptr;
      if (edited && canUndo(edited, redo)) undo(edited, redo);
    });
  }
}

MyWindow::~MyWindow() = default;

void MyWindow::setDocURL(const QUrl& url) {
  mDocURL = url;
  setRepresentedFilename(url.isLocalFile() ? url.toLocalFile() : QString());
}

void MyWindow::switchToViewController(const std::shared_ptr<BaseViewController>& controller, bool animated,
                                      std::function<void()> completion) {
  std::shared_ptr<platform::View> oldView = mCurrentController ? mCurrentController->view() : nullptr;
  mCurrentController = controller;
  std::shared_ptr<platform::View> newView = controller ? controller->view() : nullptr;
  if (newView) mContainerView->addHostedView(newView);
  contentView()->setNeedsLayout();
  makeFirstResponder(nullptr);
  if (controller) controller->becameTopLevelController();
  if (oldView == newView) oldView.reset();
  if (animated && newView) {
    newView->layer()->setOpacity(0);
    auto animator = Animator::create(0.2f, 60);
    std::weak_ptr<platform::View> weakNew = newView, weakOld = oldView;
    platform::WeakRef<MyWindow> self(this);
    animator->play([weakNew, weakOld, self](Animator& a) {
      const double p = a.updateProgress();
      if (auto v = weakNew.lock()) v->layer()->setOpacity(Animator::cubicEaseOut(p));
      auto old = weakOld.lock();
      if (old) old->layer()->setOpacity(1 - p);
      if (p >= 1 && old) {
        if (MyWindow* w = self.get()) w->mContainerView->removeHostedView(old.get());
        old->layer()->setOpacity(1);
      }
    });
  } else if (oldView) {
    mContainerView->removeHostedView(oldView.get());
  }
  platform::mainQueue().async([] {
    auto& app = platform::Application::shared();
    if (!app.mainMenu()) {
      softAssertionFailed(kMenuRefreshAssertLine, kMenuRefreshOperation);
      return;
    }
    app.mainMenuChanged();
    app.updateMainMenu();
  });
  Globals::markPersistentAppStateDirty();
  if (completion) completion();
}

void MyWindow::showShortNotificationToUser(const QString& message) {
  platform::WeakRef<MyWindow> self(this);
  platform::mainQueue().after(platform::Millis(200), [self, message] {
    MyWindow* w = self.get();
    if (!w) return;
    auto hud = ProgressHUD::showHUDAddedTo(*w->mContainerView, /*animated=*/true);
    hud->setMode(ProgressHUD::Text);
    hud->setLabelText(message);
    // A hidden notice left in the container would count as an overlay over the editor.
    hud->setRemoveFromSuperViewOnHide(true);
    std::weak_ptr<ProgressHUD> weakHud = hud;
    platform::mainQueue().after(platform::Millis(1100), [weakHud] {
      if (auto h = weakHud.lock()) h->hide(/*animated=*/true);
    });
  });
}

void MyWindow::setCloudIconStateForLocation(DocumentLocation location) {
  mCloudIconName.clear();
  if (location == DocumentLocationICloud || location == DocumentLocationDropbox) {
    switch (PersistenceController::singleton().statusForLocation(location)) {
      case WorkspaceStatusReady: mCloudIconName = QStringLiteral("cloud"); break;
      case WorkspaceStatusStarting:
      case WorkspaceStatusLoading: mCloudIconName = QStringLiteral("sync"); break;
      case WorkspaceStatusUnavailable: mCloudIconName = QStringLiteral("error"); break;
      default: break;
    }
  }
  widget()->setWindowIcon(mCloudIconName.isEmpty() ? QIcon()
                                                   : QIcon(QPixmap::fromImage(deviceImageNamed(mCloudIconName))));
}

bool MyWindow::windowShouldClose() { return !mCurrentController || mCurrentController->startClosingCanCloseNow(); }

bool MyWindow::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) {
  return mCurrentController && mCurrentController->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier);
}

void MyWindow::becomeMainWindow() {
  platform::WeakRef<MyWindow> self(this);
  platform::mainQueue().async([self] {
    MyWindow* w = self.get();
    if (!w) return;
    if (w->mCurrentController) w->mCurrentController->becameTopLevelController();
    platform::Application::shared().updateMainMenu();
  });
}

bool MyWindow::validateUserInterfaceItem(const platform::MenuItem& item) {
  const bool redo = item.action() == QLatin1String(kRedoAction);
  if (redo || item.action() == QLatin1String(kUndoAction)) {
    QWidget* edited = editedTextWidget(*this);
    return edited && canUndo(edited, redo);
  }
  return mCurrentController && mCurrentController->validateUserInterfaceItem(item);
}

}  // namespace orrery
