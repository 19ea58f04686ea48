#pragma once
// Drags between the program's windows and out of it. A drag runs in two phases:
//
// In process, while the pointer is over a window of ours, a DraggingSession follows the
// source view's mouse grab: it sees the source window's drags and release (and Escape, which
// cancels) before the views do, finds the window under the pointer through one replaceable
// locator, and tells that window's DraggingDestination entered, updated, exited, and at the
// release performDragOperation and draggingEnded; the source then hears its end with copy
// (the destination answered yes) or none. No platform image is shown: windows draw their own
// copies, and setDraggingImage only keeps the picture for the next phase.
//
// Handed over, once the pointer leaves all our windows with the button held: Qt's drag runs
// with the pasteboard's data and the current image (copy only) through a replaceable runner,
// and its answer ends the session and the grab. Over our windows again, Qt's drag events
// become the same destination calls (the image cannot change any more); so do drags from
// other programs, which have no source.
//
// Operations use the platform's bits. Main thread only.

#include "platform/ui/pasteboard.h"
#include "platform/ui/weak_ref.h"

#include <QImage>
#include <QPointF>

#include <Qt>
#include <cstdint>
#include <functional>
#include <memory>

class QDrag;
class QDropEvent;
class QEvent;
class QMimeData;
class QObject;

namespace platform {

class DraggingSession;
class Window;
struct Event;

using DragOperation = std::uint64_t;
namespace DragOperationBits {
inline constexpr DragOperation None = 0;
inline constexpr DragOperation Copy = 1;
inline constexpr DragOperation Link = 2;
inline constexpr DragOperation Generic = 4;
inline constexpr DragOperation Private = 8;
inline constexpr DragOperation Move = 16;
inline constexpr DragOperation Delete = 32;
inline constexpr DragOperation Every = ~DragOperation(0);
}  // namespace DragOperationBits

// Qt's copy, link and move become 1, 2 and 16, and back.
DragOperation dragOperationFromQt(Qt::DropActions actions);
Qt::DropActions qtActionsFromDragOperation(DragOperation operation);

enum class DraggingContext { OutsideApplication, WithinApplication };

class DraggingSource : public virtual Trackable {
 public:
  virtual DragOperation sourceOperationMaskForDraggingContext(DraggingSession& session,
                                                              DraggingContext context) = 0;
  virtual void draggingSessionWillBegin(DraggingSession& /*session*/, const QPointF& /*screenPoint*/) {}
  virtual void draggingSessionMoved(DraggingSession& /*session*/, const QPointF& /*screenPoint*/) {}
  // The drag is about to leave the program: the last moment to add data for other programs.
  virtual void draggingSessionWillHandOver(DraggingSession& /*session*/) {}
  virtual void draggingSessionEnded(DraggingSession& /*session*/, const QPointF& /*screenPoint*/,
                                    DragOperation /*operation*/) {}
};

// One drag as a destination window sees it at one call.
class DraggingInfo {
 public:
  DraggingInfo(Window* destination, const QPointF& location, std::int64_t sequenceNumber, DraggingSource* source,
               Pasteboard* pasteboard, DragOperation sourceMask, DraggingSession* session);

  Window* draggingDestinationWindow() const { return mDestination; }
  // In the destination window's top-left coordinates.
  QPointF draggingLocation() const { return mLocation; }
  // The same for every call about one drag; counted from 1 in the process.
  std::int64_t draggingSequenceNumber() const { return mSequenceNumber; }
  // Null for drags from other programs.
  DraggingSource* draggingSource() const { return mSource; }
  Pasteboard& draggingPasteboard() const { return *mPasteboard; }
  DragOperation draggingSourceOperationMask() const { return mSourceMask; }
  // The picture other programs will see if the drag leaves ours; ignored once it has left.
  void setDraggingImage(const QImage& image) const;

 private:
  Window* mDestination;
  QPointF mLocation;
  std::int64_t mSequenceNumber;
  DraggingSource* mSource;
  Pasteboard* mPasteboard;
  DragOperation mSourceMask;
  DraggingSession* mSession;
};

class DraggingDestination : public virtual Trackable {
 public:
  virtual DragOperation draggingEntered(const DraggingInfo& info) = 0;
  virtual DragOperation draggingUpdated(const DraggingInfo& info) = 0;
  virtual void draggingExited(const DraggingInfo* info) = 0;
  virtual bool performDragOperation(const DraggingInfo& info) = 0;
  virtual void draggingEnded(const DraggingInfo& info) = 0;
};

class DraggingSession {
 public:
  // Finds our window at a screen point, or null; the default asks Qt for the top-level window.
  using WindowLocator = std::function<Window*(const QPointF& screenPoint)>;
  // Runs Qt's drag offering `actions` and answers its outcome; the default is QDrag::exec,
  // after which the drag is Qt's (it may keep it past the drop for the receiver's reads). A
  // replacement only uses the drag while it runs.
  using DragRunner = std::function<Qt::DropAction(QDrag& drag, Qt::DropActions actions)>;

  // The running session, if any (one at a time).
  static DraggingSession* current();
  // Null restores the defaults.
  static void setWindowLocator(WindowLocator locator);
  static void setDragRunner(DragRunner runner);
  // The next dragging sequence number of the process.
  static std::int64_t nextSequenceNumber();

  // Used by View::beginDraggingSession.
  static std::shared_ptr<DraggingSession> begin(std::shared_ptr<Pasteboard> pasteboard, const Event& event,
                                                Window& sourceWindow, DraggingSource* source, const QImage& image);
  ~DraggingSession();

  std::int64_t draggingSequenceNumber() const { return mSequenceNumber; }
  Pasteboard& pasteboard() const { return *mPasteboard; }
  DraggingSource* source() const { return mSource.get(); }
  Window* sourceWindow() const;
  const QImage& draggingImage() const { return mImage; }
  void setDraggingImage(const QImage& image);
  bool isHandedOver() const { return mHandedOver; }
  // True for Qt's drop data of this session's handed-over drag.
  bool carries(const QMimeData* data) const { return mHandedOver && data && data == mQtData; }

  // A window going away ends the session it started (nobody would release it) and forgets
  // Qt's drag over it.
  static void windowWillClose(Window& window);

  // Used by windows for Qt's drag events (the enter, move, leave and drop of any Qt drag).
  static bool handleQtDragEvent(Window& window, QEvent* event);

 private:
  DraggingSession() = default;
  bool monitor(const Event& event);
  void moveTo(const QPointF& screenPoint);
  void release(const QPointF& screenPoint);
  void cancel();
  void handOver(const QPointF& screenPoint);
  void finish(const QPointF& screenPoint, DragOperation operation);
  DraggingInfo infoFor(Window& window, const QPointF& screenPoint);
  DragOperation sourceMask(DraggingContext context);

  std::int64_t mSequenceNumber = 0;
  std::shared_ptr<Pasteboard> mPasteboard;
  WeakRef<DraggingSource> mSource;
  WeakRef<Window> mSourceWindow;
  WeakRef<Window> mTarget;
  DragOperation mTargetOperation = DragOperationBits::None;
  QPointF mLastScreenPoint;
  QImage mImage;
  int mMonitor = 0;
  bool mHandedOver = false;
  const QMimeData* mQtData = nullptr;  // Qt's drag owns it; only compared, never read
};

}  // namespace platform
