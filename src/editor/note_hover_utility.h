#pragma once
// Shows an idea's note in a popover when the pointer rests on a disc's note badge, and closes
// it after the pointer has left. It knows nothing of discs: the host reports, on every pointer
// movement, the note under the pointer (or none); the utility times the hover with 50 ms
// polls on the main queue and opens a semi-transient popover below the badge after 0.5 s.
//
// Notes compare by value. The polls refer to the utility weakly and stop when it is gone.
// Main thread only.

#include "platform/ui/popover.h"
#include "platform/ui/weak_ref.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class View;
class ViewController;
}  // namespace platform

namespace orrery {

class NoteHoverUtilityDelegate : public virtual platform::Trackable {
 public:
  virtual bool isNoteHoverDisplayAllowed() = 0;
  // The view the popover points at; hover points are in its coordinates.
  virtual platform::View* hostViewForNoteHoverDisplay() = 0;
};

// Makes the content of a note popover (the note display panel once it exists): given the
// popover, which it may configure, and the note text.
using NoteDisplayFactory = std::function<std::shared_ptr<platform::ViewController>(
    const std::shared_ptr<platform::Popover>& popover, const QString& noteText)>;

class NoteHoverUtility : public virtual platform::Trackable {
 public:
  static constexpr int kPollMs = 50;
  static constexpr double kShowAfter = 0.5;
  static constexpr double kCloseAfter = 0.1;
  static constexpr double kBadgeHalfSide = 10;
  static constexpr double kNoteWidth = 320;
  static constexpr double kNoteHeight = 254;

  explicit NoteHoverUtility(NoteHoverUtilityDelegate* delegate);
  ~NoteHoverUtility() override;

  // Replaces the content factory (none restores the default: a read-only 320 × 254 text of
  // the note); returns the previous one.
  static NoteDisplayFactory setNoteDisplayFactory(NoteDisplayFactory factory);

  // Called by the host on every pointer movement, with the note under the pointer or none.
  void observeCursorHoveringOver(const std::optional<QString>& note, const QPointF& viewPoint);
  // Closes an open popover and forgets it and the hovered note.
  void closeIfOpen();
  void showNotePopoverFromRect(const QRectF& rect);

  // The open popover (also after it closed itself, until forgotten).
  const std::shared_ptr<platform::Popover>& notePopover() const { return mNotePopover; }
  const std::optional<QString>& noteBeingHovered() const { return mNoteBeingHovered; }
  bool hasNoteHoverDispatch() const { return mHasNoteHoverDispatch; }

 private:
  void ensureHoverDispatch();
  void poll();
  void forgetPopover();

  platform::WeakRef<NoteHoverUtilityDelegate> mDelegate;
  bool mHasNoteHoverDispatch = false;
  std::optional<QString> mNoteBeingHovered;
  double mLastValidNoteHoverStartTime = 0;
  QPointF mLastHoverPoint;
  std::shared_ptr<platform::Popover> mNotePopover;
};

}  // namespace orrery
