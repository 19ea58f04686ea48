#pragma once
// The program's main window: a container view filling the content hosts exactly one screen
// controller's view at a time. The window switches controllers (with a short cross-fade),
// passes close and delete questions to the current controller, undoes and redoes text
// editing in a hosted field, shows short notices and the cloud status icon. Main thread only.

#include "foundation/views/base_view_controller.h"
#include "foundation/views/container_view.h"
#include "model/document_location.h"
#include "platform/ui/window.h"
#include "shell/drag_support.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace orrery {

class MyWindow : public platform::Window {
 public:
  // Minimum content size of every main window.
  static constexpr double kMinimumContentSize = 520;

  explicit MyWindow(const QSizeF& contentSize);
  ~MyWindow() override;

  const std::shared_ptr<ContainerView>& containerView() const { return mContainerView; }
  const std::shared_ptr<BaseViewController>& controller() const { return mCurrentController; }

  // The shown document's URL, also the window's represented file.
  const QUrl& docURL() const { return mDocURL; }
  void setDocURL(const QUrl& url);

  // Hosts the controller's view, makes it current and top level; animated, the old view fades
  // out over 0.2 s and leaves afterwards. The completion runs at once, before a fade ends.
  virtual void switchToViewController(const std::shared_ptr<BaseViewController>& controller, bool animated,
                                      std::function<void()> completion);
  void switchToViewController(const std::shared_ptr<BaseViewController>& controller,
                              std::function<void()> completion) {
    switchToViewController(controller, /*animated=*/false, std::move(completion));
  }

  // 0.2 s later a text-only notice over the container; hidden 1.1 s after it appeared and then
  // removed from the container.
  void showShortNotificationToUser(const QString& message);
  // The window icon shows the location's workspace status (iCloud and Dropbox), else none.
  void setCloudIconStateForLocation(DocumentLocation location);
  // The status image shown ("cloud", "sync", "error"), empty for none.
  const QString& cloudIconName() const { return mCloudIconName; }

  // Asked before the window closes: the controller's answer, yes without one.
  bool windowShouldClose();
  // No without a controller.
  bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier);
  // The window became the main one: the controller hears it is top level and the menus update.
  void becomeMainWindow();

  bool validateUserInterfaceItem(const platform::MenuItem& item) override;

 private:
  std::shared_ptr<ContainerView> mContainerView;
  std::shared_ptr<BaseViewController> mCurrentController;
  QUrl mDocURL;
  QString mCloudIconName;
};

// The window of every main window controller. Its dock slot holds at most one parked idea
// with the identifier of its document (none for an idea of no document); the idea's root is
// held too, since parents are weak and the rest of its tree must stay alive while it is
// parked. The hosted controller is the drag delegate when it adopts DragSupportDelegate.
class DragSupportWindow : public MyWindow {
 public:
  using MyWindow::MyWindow;

  const std::shared_ptr<class Idea>& currentDockedIdea() const { return mDockedIdea; }
  const QString& currentDockedDocIdentifier() const { return mDockedDocIdentifier; }
  // Null empties the slot.
  void setDockedIdea(std::shared_ptr<class Idea> idea, const QString& docIdentifier);

  DragSupportDelegate* dragSupportDelegate() const;
  void switchToViewController(const std::shared_ptr<BaseViewController>& controller, bool animated,
                              std::function<void()> completion) override;
  using MyWindow::switchToViewController;

 private:
  std::shared_ptr<class Idea> mDockedIdea;
  std::shared_ptr<class Idea> mDockedIdeaRoot;
  QString mDockedDocIdentifier;
  // Owned by the window's current controller, which outlives its time in the window.
  std::weak_ptr<BaseViewController> mDragDelegateOwner;
  DragSupportDelegate* mDragSupportDelegate = nullptr;
};

}  // namespace orrery
