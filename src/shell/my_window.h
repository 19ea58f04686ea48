#pragma once
// The program's main window: a container view filling the content hosts exactly one screen
// controller's view at a time. The window switches controllers (with a short cross-fade),
// passes close and delete questions to the current controller, undoes and redoes text
// editing in a hosted field, shows short notices and the cloud status icon. Main thread only.

#include "foundation/views/base_view_controller.h"
#include "foundation/views/container_view.h"
#include "model/document_location.h"
#include "platform/ui/dragging.h"
#include "platform/ui/window.h"
#include "shell/drag_support.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <limits>
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
  // The top bars in the window show the location's workspace status (iCloud and Dropbox) as a
  // glyph with a tooltip, else none; the window keeps the application's icon.
  void setCloudIconStateForLocation(DocumentLocation location);
  // The status image shown ("cloud", "sync", "error"), empty for none, and its tooltip.
  const QString& cloudIconName() const { return mCloudIconName; }
  const QString& cloudIconToolTip() const { return mCloudIconToolTip; }

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
  QString mCloudIconToolTip;
};

// The window of every main window controller. It runs the drags of ideas for its screen
// controller (its drag delegate, when the controller adopts DragSupportDelegate): it starts
// them, floats its own copy of the dragged planet while a drag is over it, asks the delegate
// where a drop would land, loads the dropped idea and hands it over, flies the copy back when
// a drop in its own window is refused, and keeps the two windows of a drag between windows in
// step until both are done (see docs/architecture.md). Files from other programs land in its
// dock slot; ideas dragged out of the program become document files. The dock slot holds at
// most one parked idea with the identifier of its document (none for an idea of no document);
// the idea's root is held too, since parents are weak and the rest of its tree must stay alive
// while it is parked.
class DragSupportWindow : public MyWindow, public platform::DraggingSource, public platform::DraggingDestination {
 public:
  // The private type of an idea drag: JSON with "ideaIdentifier" and "docIdentifier".
  static constexpr char kIdeaPasteboardType[] = "application/x-orrery-idea";
  // Neither side of a drag runs.
  static constexpr std::int64_t kNoSession = std::numeric_limits<std::int64_t>::min();
  static constexpr double kFloatingScale = 0.75;

  explicit DragSupportWindow(const QSizeF& contentSize);
  ~DragSupportWindow() override;

  const std::shared_ptr<class Idea>& currentDockedIdea() const { return mDockedIdea; }
  const QString& currentDockedDocIdentifier() const { return mDockedDocIdentifier; }
  // Null empties the slot.
  void setDockedIdea(std::shared_ptr<class Idea> idea, const QString& docIdentifier);

  DragSupportDelegate* dragSupportDelegate() const;
  void switchToViewController(const std::shared_ptr<BaseViewController>& controller, bool animated,
                              std::function<void()> completion) override;
  using MyWindow::switchToViewController;

  // Starts a drag of the example planet from a mouse event that `view` handles.
  void startDragForEvent(const platform::Event& event, platform::View& view,
                         const std::shared_ptr<DraggablePlanet>& exampleView, const DragReturnTarget& returnTarget);

  // Source side.
  platform::DragOperation sourceOperationMaskForDraggingContext(platform::DraggingSession& session,
                                                                platform::DraggingContext context) override;
  void draggingSessionWillBegin(platform::DraggingSession& session, const QPointF& screenPoint) override;
  void draggingSessionWillHandOver(platform::DraggingSession& session) override;
  void draggingSessionEnded(platform::DraggingSession& session, const QPointF& screenPoint,
                            platform::DragOperation operation) override;

  // Receiving side.
  platform::DragOperation draggingEntered(const platform::DraggingInfo& info) override;
  platform::DragOperation draggingUpdated(const platform::DraggingInfo& info) override;
  void draggingExited(const platform::DraggingInfo* info) override;
  bool performDragOperation(const platform::DraggingInfo& info) override;
  void draggingEnded(const platform::DraggingInfo& info) override;

  // Files in and out.
  static bool isPathReferringToSupportedImage(const QString& path);
  static bool isPathReferringToIdeaDocumentFile(const QString& path);
  static bool isPathReferringToSupportedFileType(const QString& path);
  // The one supported local file the pasteboard carries, else empty.
  static QString supportedFilePathFromPasteboard(const platform::Pasteboard& pasteboard);
  // Reads a dropped file into an idea of no document; null (later, on the main queue) when it
  // cannot be read, with the reader's refusal of a document file. Only regular files are read.
  void handleDataFromFile(const QString& path,
                          std::function<void(std::shared_ptr<class Idea>, const MyResultPtr& refusal)> completion);
  // Names the file the dragged idea is written to in `folder` (a fresh one, see
  // PromisedFile) and starts writing it; answers the one name.
  QStringList namesOfPromisedFilesDroppedAtDestination(const QString& folder);

  // Read by tests and the benchmark.
  const std::shared_ptr<DraggablePlanet>& floatingCopy() const { return mDragTargetIdeaView; }
  // The scale the floating copy shows at (its drawn scale times its pull).
  double floatingCopyScale() const;
  const std::shared_ptr<class DragOverlayView>& overlay() const { return mDragTargetOverlay; }
  std::int64_t sourceSessionNumber() const { return mDragSourceSessionNumber; }
  std::int64_t targetSessionNumber() const { return mDragTargetSessionNumber; }

 private:
  void afterLoadingDraggedIdea(std::function<void(std::shared_ptr<class Idea>)> completion);
  void handleDragEndingForSource(bool source, bool target, DragResult result);
  void animateReturnDraggedViewAndRemoveIt(const DragInfo& info);
  void removeTargetIdeaViewAndOverlays();
  platform::DragOperation fileDragEntered(const platform::DraggingInfo& info);
  platform::DragOperation fileDragOperation() const;
  bool performFileDrop(const platform::DraggingInfo& info);
  void refuseTargetSide();
  void placeFloatingCopy(const QPointF& windowPoint);
  void setFloatingPull(double scale);
  double fitScale(const QRectF& area) const;

  std::shared_ptr<class Idea> mDockedIdea;
  std::shared_ptr<class Idea> mDockedIdeaRoot;
  QString mDockedDocIdentifier;
  // Owned by the window's current controller, which outlives its time in the window.
  std::weak_ptr<BaseViewController> mDragDelegateOwner;
  DragSupportDelegate* mDragSupportDelegate = nullptr;

  std::shared_ptr<DraggablePlanet> mDragExampleView;
  QString mDraggedIdeaIdentifier;
  QString mDraggedDocIdentifier;
  bool mDelayDragEnding = false;
  bool mDragAcceptCalled = false;
  std::int64_t mDragSourceSessionNumber = kNoSession;
  std::shared_ptr<DragInfoForIdea> mDragSourceInfo;
  // The window the drag over this one started in (this one for its own drag); cleared by
  // the handshake that ends the drag here.
  platform::WeakRef<DragSupportWindow> mDragTargetSourceWindow;
  std::shared_ptr<DragInfo> mDragTargetInfo;
  std::int64_t mDragTargetSessionNumber = kNoSession;
  std::shared_ptr<class DragOverlayView> mDragTargetOverlay;
  std::shared_ptr<DraggablePlanet> mDragTargetIdeaView;
  double mFloatingPull = 1.0;
  // The file written for the drag out of the program that runs now, if any.
  std::shared_ptr<class PromisedFile> mPromisedFile;
};

}  // namespace orrery
