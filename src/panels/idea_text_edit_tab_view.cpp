#include "panels/idea_text_edit_tab_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "model/document_limits.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/note_text_edit.h"
#include "panels/refusal_alert.h"
#include "platform/core/dispatch.h"
#include "platform/services/font_catalog.h"
#include "platform/ui/window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPainter>
#include <QPainterPath>
#include <QTextEdit>
#include <QValidator>

#include <limits>

namespace orrery {

namespace {
QFont editFont() {
  return platform::fontNamed(QStringLiteral("HelveticaNeue"), 14).value_or(QFont());
}

}  // namespace

// A title holds as much as a map's text may, and what the map has room for; an edit that would
// take it beyond is refused whole.
class IdeaTextEditTabView::TitleValidator final : public QValidator {
 public:
  TitleValidator(IdeaTextEditTabView* owner, QObject* parent) : QValidator(parent), mOwner(owner) {}
  State validate(QString& input, int& /*pos*/) const override {
    auto* tab = static_cast<IdeaTextEditTabView*>(mOwner.get());
    mWhy = input.size() > DocumentLimits::kMaxTextLength ? DocumentLimits::textTooLongMessage()
           : tab && tab->delegate()                      ? tab->delegate()->refuseTitle(input)
                                                         : QString();
    return mWhy.isEmpty() ? Acceptable : Invalid;
  }
  const QString& why() const { return mWhy; }

 private:
  platform::WeakRef<platform::View> mOwner;
  mutable QString mWhy;
};

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
    // Only while the tab is still on screen: a close in the same turn takes it out of its window.
    platform::mainQueue().async([owner] {
      auto* tab = static_cast<IdeaTextEditTabView*>(owner.get());
      if (tab && tab->window() && tab->window()->isVisible()) tab->switchFromTitleFieldToNote();
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
  // The line edit's own maximum (32767 by default) would cut a longer title without a word,
  // even one only shown and handed back; the map's limit refuses an edit whole instead, with
  // the note's alert.
  edit->setMaxLength(std::numeric_limits<int>::max());
  mTitleValidator = new TitleValidator(this, edit);
  edit->setValidator(mTitleValidator);
  platform::WeakRef<platform::View> self(this);
  QObject::connect(edit, &QLineEdit::inputRejected, [self] {
    if (auto* tab = static_cast<IdeaTextEditTabView*>(self.get())) tellRefusal(tab, tab->mTitleValidator->why());
  });
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
  const QString held = noteTextOf(*noteEdit()->document());
  // Until it is edited, a note the editor holds otherwise (a U+2029, a "\r\n") is the note loaded.
  return held == mLoadedNoteAsHeld ? mLoadedNote : held;
}

QTextEdit* IdeaTextEditTabView::noteEdit() const {
  return mNoteView ? static_cast<QTextEdit*>(mNoteView->widget()) : nullptr;
}

void IdeaTextEditTabView::reloadFrom(const EditIdeaViewController& controller, bool /*isInitialLoad*/) {
  reloadFrom(controller.selectedTitleText(), controller.selectedNoteText());
}

void IdeaTextEditTabView::reloadFrom(const QString& title, const QString& note) {
  mLoadedNote = note;
  if (!note.isEmpty()) {
    ensureExtendedPortion();
    setNoteText(*noteEdit(), note);
    mLoadedNoteAsHeld = noteTextOf(*noteEdit()->document());
  } else {
    removeExtendedPortion();
    mLoadedNoteAsHeld = note;
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
  NoteTextEdit* edit = makeNoteTextEdit(/*readOnly=*/false);
  platform::WeakRef<platform::View> self(this);
  edit->setRoomCheck([self](const QString& note) {
    auto* tab = static_cast<IdeaTextEditTabView*>(self.get());
    return tab && tab->delegate() ? tab->delegate()->refuseNote(note) : QString();
  });
  edit->setRefusalHandler([self](const QString& why) { tellRefusal(self.get(), why); });
  mNoteView = std::make_shared<platform::NativeHostView>(edit);
  edit->setContextMenuPolicy(Qt::CustomContextMenu);
  platform::WeakRef<platform::View> host(mNoteView.get());
  QObject::connect(edit, &QTextEdit::customContextMenuRequested, edit, [host, edit](const QPoint& at) {
    platform::View* view = host.get();
    if (!view) return;
    if (auto menu = noteMenuFor(edit)) menu->popUp(QPointF(at), view);
  });
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

std::shared_ptr<platform::Menu> IdeaTextEditTabView::noteMenuFor(QTextEdit* edit) {
  if (!edit) return nullptr;
  // The standard menu's actions by their object names, turned into the kit's actions.
  static const std::pair<const char*, const char*> kActions[] = {
      {"edit-undo", "undo"},   {"edit-redo", "redo"},     {"edit-cut", "cut"},        {"edit-copy", "copy"},
      {"edit-paste", "paste"}, {"edit-delete", "delete"}, {"select-all", "selectAll"}};
  auto offered = std::make_shared<platform::Menu>();
  std::unique_ptr<QMenu> standard(edit->createStandardContextMenu());
  QPointer<QTextEdit> target(edit);
  for (QAction* action : standard->actions()) {
    if (action->isSeparator()) {
      offered->addItem(platform::MenuItem::separator());
      continue;
    }
    const QString name = action->objectName();
    for (const auto& [objectName, kitAction] : kActions) {
      if (name != QLatin1String(objectName)) continue;
      const QString kit = QString::fromLatin1(kitAction);
      QString title = action->text().section(QLatin1Char('\t'), 0, 0);
      title.remove(QLatin1Char('&'));
      auto item = std::make_shared<platform::MenuItem>(title, [target, kit](platform::MenuItem&) {
        if (!target) return;
        if (kit == QLatin1String("undo")) target->undo();
        else if (kit == QLatin1String("redo")) target->redo();
        else if (kit == QLatin1String("cut")) target->cut();
        else if (kit == QLatin1String("copy")) target->copy();
        else if (kit == QLatin1String("paste")) target->paste();
        else if (kit == QLatin1String("delete")) target->textCursor().removeSelectedText();
        else if (kit == QLatin1String("selectAll")) target->selectAll();
      });
      item->setAction(kit);
      item->setEnabled(action->isEnabled());
      offered->addItem(item);
    }
  }
  return CustomTextField::createTextFieldMenuFrom(*offered);
}

void NoteScrollView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  NoteDisplayScrollView::drawRect(painter, dirtyRect);
  QPainterPath path;
  path.addRoundedRect(bounds(), 3, 3);
  painter.strokePath(path, QPen(Globals::colorLightGray(), 2));
}

}  // namespace orrery
