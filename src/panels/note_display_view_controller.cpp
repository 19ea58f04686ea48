#include "panels/note_display_view_controller.h"

#include "editor/note_hover_utility.h"
#include "foundation/views/colored_view.h"
#include "panels/note_text_edit.h"
#include "platform/ui/transaction.h"

#include <QTextEdit>


namespace orrery {

NoteDisplayScrollView::NoteDisplayScrollView() = default;

void NoteDisplayScrollView::setDocumentView(std::shared_ptr<platform::NativeHostView> view) {
  if (mDocumentView) mDocumentView->removeFromSuperview();
  mDocumentView = std::move(view);
  if (mDocumentView) addSubview(mDocumentView);
  tile();
}

QRectF NoteDisplayScrollView::contentFrame() const {
  const QRectF b = bounds();
  const double w = std::max(0.0, b.width() - 2 * kClipInset);
  const double h = std::max(0.0, b.height() - 2 * kClipInset);
  return QRectF(b.x() + kClipInset, b.y() + kClipInset, w, h);
}

void NoteDisplayScrollView::tile() {
  if (mDocumentView) mDocumentView->setFrame(contentFrame());
}

std::shared_ptr<NoteDisplayViewController> NoteDisplayViewController::createForPopover(
    const std::shared_ptr<platform::Popover>& popover) {
  auto controller = std::make_shared<NoteDisplayViewController>(Private{}, popover);
  if (popover) {
    popover->setAnimates(true);
    popover->setContentSize(QSizeF(kWidth, kHeight));
    popover->setContentViewController(controller);
    popover->setDelegate(controller.get());
  }
  return controller;
}

NoteDisplayViewController::NoteDisplayViewController(Private, std::shared_ptr<platform::Popover> popover)
    : mPopover(std::move(popover)) {}

NoteDisplayViewController::~NoteDisplayViewController() = default;

void NoteDisplayViewController::installAsNoteDisplay() {
  NoteHoverUtility::setNoteDisplayFactory(
      [](const std::shared_ptr<platform::Popover>& popover, const QString& noteText) {
        auto controller = createForPopover(popover);
        controller->setNoteText(noteText);
        return std::static_pointer_cast<platform::ViewController>(controller);
      });
}

void NoteDisplayViewController::loadView() {
  mView = std::make_shared<ColoredView>(QBrush(Qt::white), this);
  mView->setFrame(QRectF(0, 0, kWidth, kHeight));
  setView(mView);
}

void NoteDisplayViewController::ensureView() {
  if (mPreparedOnce) return;
  mPreparedOnce = true;
  view();
}

void NoteDisplayViewController::prepareForPresentation() {
  ensureView();
  if (mNoteScrollView) mNoteScrollView->removeFromSuperview();
  mNoteScrollView = std::make_shared<NoteDisplayScrollView>();
  mView->addSubview(mNoteScrollView);

  QTextEdit* edit = makeNoteTextEdit(/*readOnly=*/true);
  orrery::setNoteText(*edit, mNoteText);
  mNoteView = std::make_shared<platform::NativeHostView>(edit);
  mNoteScrollView->setDocumentView(mNoteView);
  mView->forceDirtyLayout();
}

void NoteDisplayViewController::updateFrameWithHeight(double height) {
  ensureView();
  platform::withoutActions([&] {
    mView->setFrame(QRectF(mView->frame().topLeft(), QSizeF(kWidth, height)));
    if (auto popover = mPopover.lock()) popover->setContentSize(QSizeF(kWidth, height));
    mView->forceDirtyLayout();
  });
}

void NoteDisplayViewController::applyLayout() {
  if (mNoteScrollView) mNoteScrollView->setFrame(mView->bounds());
  ensureNoteViewSize();
}

void NoteDisplayViewController::ensureNoteViewSize() {
  QTextEdit* edit = noteEdit();
  if (!edit) return;
  mNoteScrollView->tile();
  ensureNoteTextWidth(*edit);
}

void NoteDisplayViewController::popoverWillShow(platform::Popover& /*popover*/) { prepareForPresentation(); }

void NoteDisplayViewController::popoverDidShow(platform::Popover& /*popover*/) { updateFrameWithHeight(kHeight); }

void NoteDisplayViewController::popoverDidClose(platform::Popover& /*popover*/) {
  if (NoteDisplayViewControllerDelegate* d = delegate()) d->noteDisplayViewDidClose();
}

void NoteDisplayViewController::dismissView() {
  if (auto popover = mPopover.lock()) popover->performClose();
}

QTextEdit* NoteDisplayViewController::noteEdit() const {
  return mNoteView ? static_cast<QTextEdit*>(mNoteView->widget()) : nullptr;
}

}  // namespace orrery
