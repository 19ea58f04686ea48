#include "shell/my_window.h"

#include "shell/text_undo.h"
#include "shell/top_bar_view.h"

#include "foundation/animator.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/progress_hud.h"
#include "model/idea.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"

#include <QMainWindow>

namespace orrery {
namespace {

constexpr int kMenuRefreshAssertLine = 257;
constexpr char kMenuRefreshOperation[] = "-[MyWindow switchToViewController:animated:onCompletion:]";

}  // namespace

MyWindow::MyWindow(const QSizeF& contentSize) : platform::Window(contentSize) {
  setMinSize(QSizeF(kMinimumContentSize, kMinimumContentSize));
  mContainerView = ContainerView::create(QStringLiteral("example_welcome"));
  setContentView(mContainerView);
  platform::WeakRef<MyWindow> self(this);
  setActionHandler(QStringLiteral("performClose"), [self](const platform::ActionSender&) {
    if (MyWindow* w = self.get()) w->performClose();
  });
  installTextUndoActions(*this, [self]() -> platform::Window* { return self.get(); });
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
  mCloudIconToolTip.clear();
  if (isCloudLocation(location)) {
    const char* key = nullptr;
    const char* text = nullptr;
    switch (PersistenceController::singleton().statusForLocation(location)) {
      case WorkspaceStatusReady:
        mCloudIconName = QStringLiteral("cloud");
        key = "StorageStatus:Ready";
        text = "%1: up to date";
        break;
      case WorkspaceStatusStarting:
      case WorkspaceStatusLoading:
        mCloudIconName = QStringLiteral("sync");
        key = "StorageStatus:Syncing";
        text = "%1: syncing";
        break;
      case WorkspaceStatusUnavailable:
        mCloudIconName = QStringLiteral("error");
        key = "StorageStatus:Unavailable";
        text = "%1: unavailable";
        break;
      default: break;
    }
    if (key) {
      const QString place = location == DocumentLocationICloud ? QStringLiteral("iCloud") : QStringLiteral("Dropbox");
      mCloudIconToolTip =
          Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(text)).arg(place);
    }
  }
  // The window keeps the application's icon (a task bar groups windows by it): the status
  // shows in the window's top bars.
  std::function<void(platform::View&)> show = [&](platform::View& view) {
    if (auto* bar = dynamic_cast<TopBarView*>(&view)) bar->setStorageStatus(mCloudIconName, mCloudIconToolTip);
    for (const auto& sub : view.subviews()) show(*sub);
  };
  show(*mContainerView);
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
  if (isTextUndoAction(item.action())) return canPerformTextUndo(this, item.action());
  return mCurrentController && mCurrentController->validateUserInterfaceItem(item);
}

}  // namespace orrery
