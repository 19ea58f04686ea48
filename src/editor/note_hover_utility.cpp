#include "editor/note_hover_utility.h"

#include "foundation/views/kit_font.h"
#include "foundation/views/text_view.h"
#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/services/font_catalog.h"
#include "platform/ui/view_controller.h"

namespace orrery {
namespace {

std::shared_ptr<platform::ViewController> defaultNoteDisplay(const std::shared_ptr<platform::Popover>& popover,
                                                             const QString& noteText) {
  popover->setAnimates(true);
  popover->setContentSize(QSizeF(NoteHoverUtility::kNoteWidth, NoteHoverUtility::kNoteHeight));
  auto text = std::make_shared<TextView>();
  text->setFrame(QRectF(0, 0, NoteHoverUtility::kNoteWidth, NoteHoverUtility::kNoteHeight));
  text->layer()->setBackgroundColor(Qt::white);
  const QFont face = platform::fontNamed(QStringLiteral("Helvetica"), 14).value_or(QFont());
  text->setFont(kitFont(face, 14));
  text->setInset(QSizeF(5, 3));
  text->setText(noteText);
  auto controller = std::make_shared<platform::ViewController>();
  controller->setView(text);
  return controller;
}

NoteDisplayFactory& factory() {
  static NoteDisplayFactory f = defaultNoteDisplay;
  return f;
}

}  // namespace

NoteHoverUtility::NoteHoverUtility(NoteHoverUtilityDelegate* delegate) : mDelegate(delegate) {}

NoteHoverUtility::~NoteHoverUtility() {
  if (mNotePopover) mNotePopover->close();
}

NoteDisplayFactory NoteHoverUtility::setNoteDisplayFactory(NoteDisplayFactory f) {
  NoteDisplayFactory previous = factory();
  factory() = f ? std::move(f) : NoteDisplayFactory(defaultNoteDisplay);
  return previous;
}

void NoteHoverUtility::observeCursorHoveringOver(const std::optional<QString>& note, const QPointF& viewPoint) {
  const double now = platform::mediaTime();
  if (note != mNoteBeingHovered) mLastValidNoteHoverStartTime = now;
  if (!note && mNotePopover && now - mLastValidNoteHoverStartTime > kCloseAfter) forgetPopover();
  mLastHoverPoint = viewPoint;
  mNoteBeingHovered = note;
  ensureHoverDispatch();
}

void NoteHoverUtility::ensureHoverDispatch() {
  if (!mNoteBeingHovered && !mNotePopover) return;
  if (mHasNoteHoverDispatch) return;
  mHasNoteHoverDispatch = true;
  platform::WeakRef<NoteHoverUtility> self(this);
  platform::mainQueue().after(platform::Millis(kPollMs), [self] {
    if (NoteHoverUtility* u = self.get()) u->poll();
  });
}

void NoteHoverUtility::poll() {
  mHasNoteHoverDispatch = false;
  if (!mNoteBeingHovered || mNotePopover) return;
  if (platform::mediaTime() - mLastValidNoteHoverStartTime > kShowAfter)
    showNotePopoverFromRect(QRectF(mLastHoverPoint.x() - kBadgeHalfSide, mLastHoverPoint.y() - kBadgeHalfSide,
                                   2 * kBadgeHalfSide, 2 * kBadgeHalfSide));
  ensureHoverDispatch();
}

void NoteHoverUtility::forgetPopover() {
  if (!mNotePopover) return;
  auto popover = std::move(mNotePopover);
  popover->close();
}

void NoteHoverUtility::closeIfOpen() {
  forgetPopover();
  mNoteBeingHovered.reset();
}

void NoteHoverUtility::showNotePopoverFromRect(const QRectF& rect) {
  forgetPopover();
  NoteHoverUtilityDelegate* delegate = mDelegate.get();
  if (!delegate || !delegate->isNoteHoverDisplayAllowed()) return;
  platform::View* host = delegate->hostViewForNoteHoverDisplay();
  if (!host) return;
  auto popover = platform::Popover::create();
  popover->setBehavior(platform::Popover::Semitransient);
  auto content = factory()(popover, mNoteBeingHovered.value_or(QString()));
  if (!content) return;
  popover->setContentViewController(content);
  popover->showRelativeToRect(rect, host, platform::RectEdge::MaxY);
  if (popover->isShown()) mNotePopover = popover;
}

}  // namespace orrery
