#include "panels/idea_text_edit_tab_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "panels/note_text_edit.h"
#include "platform/core/dispatch.h"
#include "platform/services/font_catalog.h"
#include "platform/ui/window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QTextEdit>

namespace orrery {

namespace {
QFont editFont() {
  return platform::fontNamed(QStringLiteral("HelveticaNeue"), 14).value_or(QFont());
}
}  // namespace

// Tab in the title opens the note; Qt would move the focus instead.
class IdeaTextEditTabView::KeyFilter final : public QObject {
 public:
  explicit KeyFilter(IdeaTextEditTabView* owner) : mOwner(owner) {}

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Tab) return false;
    platform::WeakRef<platform::View> owner(mOwner);
    platform::mainQueue().async([owner] {
      if (auto* tab = static_cast<IdeaTextEditTabView*>(owner.get())) tab->switchFromTitleFieldToNote();
    });
    return true;
  }

 private:
  IdeaTextEditTabView* mOwner;
};

IdeaTextEditTabView::IdeaTextEditTabView() : BaseView(QRectF(0, 0, 320, kCompactHeight)) {
  mTitleTextField = std::make_shared<CustomTextField>();
  QLineEdit* edit = mTitleTextField->field()->lineEdit();
  edit->setPlaceholderText(Globals::normalLocalizedStringForKey(QStringLiteral("TitleEditField:Placeholder"), QString()));
  edit->setFont(editFont());
  platform::WeakRef<platform::View> self(this);
  QObject::connect(edit, &QLineEdit::returnPressed, [self] {
    auto* tab = static_cast<IdeaTextEditTabView*>(self.get());
    if (!tab) return;
    if (IdeaTextEditTabViewDelegate* d = tab->delegate()) d->pleaseCloseEditView();
  });
  mKeyFilter = std::make_unique<KeyFilter>(this);
  edit->installEventFilter(mKeyFilter.get());

  mNoteButton = std::make_shared<ButtonView>(imageext::deviceImageNamed(QStringLiteral("add_note_icon")),
                                             imageext::deviceImageNamed(QStringLiteral("add_note_icon_active")));
  mNoteButton->setFrame(QRectF(0, 0, 28, 28));
  mNoteButton->setDelegate(this);
  mNoteButton->setDebugTag(QStringLiteral("mNoteButton"));
  addSubview(mTitleTextField);
  addSubview(mNoteButton);
  forceDirtyLayout();
}

IdeaTextEditTabView::~IdeaTextEditTabView() {
  if (mTitleTextField) mTitleTextField->field()->lineEdit()->removeEventFilter(mKeyFilter.get());
}

QString IdeaTextEditTabView::selectedTitleText() const { return mTitleTextField->text(); }

std::optional<QString> IdeaTextEditTabView::selectedNoteText() const {
  if (!mNoteView) return std::nullopt;
  return noteEdit()->toPlainText();
}

QTextEdit* IdeaTextEditTabView::noteEdit() const {
  return mNoteView ? static_cast<QTextEdit*>(mNoteView->widget()) : nullptr;
}

void IdeaTextEditTabView::reloadFrom(const QString& title, const QString& note) {
  if (!note.isEmpty()) {
    ensureExtendedPortion();
    setNoteText(*noteEdit(), note);
  } else {
    removeExtendedPortion();
  }
  mTitleTextField->setText(title);
}

void IdeaTextEditTabView::activate() {
  platform::Window* window = this->window();
  if (window) window->makeFirstResponder(mTitleTextField->field().get());
  QLineEdit* edit = mTitleTextField->field()->lineEdit();
  edit->selectAll();
  edit->end(/*mark=*/false);
}

void IdeaTextEditTabView::ensureExtendedPortion() {
  if (mNoteView) return;
  mNoteButton->setHidden(true);
  mNoteView = std::make_shared<platform::NativeHostView>(makeNoteTextEdit(/*readOnly=*/false));
  mNoteScrollView = std::make_shared<NoteScrollView>();
  mNoteScrollView->setDocumentView(mNoteView);
  addSubview(mNoteScrollView);
  forceDirtyLayout();
}

void IdeaTextEditTabView::removeExtendedPortion() {
  mNoteButton->setHidden(false);
  if (!mNoteView) return;
  mNoteScrollView->removeFromSuperview();
  mNoteScrollView.reset();
  mNoteView.reset();
  forceDirtyLayout();
}

void IdeaTextEditTabView::switchToExtendedMode() {
  ensureExtendedPortion();
  if (platform::Window* window = this->window()) window->makeFirstResponder(mNoteView.get());
  if (IdeaTextEditTabViewDelegate* d = delegate()) d->pleaseUpdateIdeaTextEditTabViewHeight();
}

void IdeaTextEditTabView::switchFromTitleFieldToNote() {
  switchToExtendedMode();
  if (QTextEdit* edit = noteEdit()) edit->moveCursor(QTextCursor::Start);
}

void IdeaTextEditTabView::buttonPressed(ButtonView& button) {
  if (&button == mNoteButton.get()) switchToExtendedMode();
}

void IdeaTextEditTabView::applyLayout() {
  const double width = bounds().width();
  if (!mNoteView) {
    mTitleTextField->setFrame(QRectF(10, 20, width - 54, 26));
    const QPointF c(width - 22, mTitleTextField->frame().center().y() - 1);
    const QSizeF s = mNoteButton->frame().size();
    mNoteButton->setFrame(QRectF(std::round(c.x() - s.width() / 2), std::round(c.y() - s.height() / 2), s.width(),
                                 s.height()));
    return;
  }
  mTitleTextField->setFrame(QRectF(10, 20, width - 20, 26));
  const double b = mTitleTextField->frame().bottom();
  mNoteScrollView->setFrame(QRectF(10, b + 10, width - 20, kExtendedHeight - (b + 20)));
  mNoteScrollView->tile();
  if (QTextEdit* edit = noteEdit()) ensureNoteTextWidth(*edit);
}

void NoteScrollView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  NoteDisplayScrollView::drawRect(painter, dirtyRect);
  QPainterPath path;
  path.addRoundedRect(bounds(), 3, 3);
  painter.strokePath(path, QPen(Globals::colorLightGray(), 2));
}

}  // namespace orrery
