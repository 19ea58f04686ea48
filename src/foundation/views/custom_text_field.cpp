#include "foundation/views/custom_text_field.h"

#include "foundation/globals.h"
#include "platform/core/dispatch.h"
#include "platform/services/utf8_text.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace orrery {

namespace {

// The clipboard's (or the selection's) plain text, a leading U+FEFF kept: Qt's reading drops it.
QString clipboardText(QClipboard::Mode mode) {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
  return data ? platform::plainTextOf(*data) : QString();
}

// A caret moved away and back starts a new undo step; removing a selection starts one itself.
void startUndoStep(QLineEdit& edit) {
  if (edit.hasSelectedText() || edit.text().isEmpty()) return;
  const int at = edit.cursorPosition();
  edit.setCursorPosition(at > 0 ? at - 1 : at + 1);
  edit.setCursorPosition(at);
}

// Qt's paste, the pasted text an undo step of its own, with the text read exactly.
void pasteExactly(QLineEdit& edit, QClipboard::Mode mode) {
  const QString text = clipboardText(mode);
  if (edit.isReadOnly() || (text.isEmpty() && !edit.hasSelectedText())) return;
  startUndoStep(edit);
  edit.insert(text);
  startUndoStep(edit);
}

// A line edit that takes pasted and dropped text as the clipboard or the drag holds it.
class ExactLineEdit final : public QLineEdit {
 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!event->matches(QKeySequence::Paste) || isReadOnly()) return QLineEdit::keyPressEvent(event);
    pasteExactly(*this, QClipboard::Clipboard);
    event->accept();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::MiddleButton || isReadOnly() || !QGuiApplication::clipboard()->supportsSelection())
      return QLineEdit::mouseReleaseEvent(event);
    deselect();
    insert(clipboardText(QClipboard::Selection));
  }
  void dropEvent(QDropEvent* event) override {
    QMimeData plain;
    plain.setText(event->mimeData() ? platform::plainTextOf(*event->mimeData()) : QString());
    QDropEvent exact(event->position(), event->possibleActions(), &plain, event->buttons(), event->modifiers(),
                     event->type());
    exact.setDropAction(event->dropAction());
    QLineEdit::dropEvent(&exact);
    event->setDropAction(exact.dropAction());
    event->setAccepted(exact.isAccepted());
  }
};

}  // namespace

// The hosted line edit.

HostedLineEdit::HostedLineEdit() : NativeHostView(new ExactLineEdit) {
  lineEdit()->setFrame(false);
  lineEdit()->setAttribute(Qt::WA_MacShowFocusRect, false);
}

QLineEdit* HostedLineEdit::lineEdit() const { return static_cast<QLineEdit*>(widget()); }

bool HostedLineEdit::becomeFirstResponder() {
  const bool ok = NativeHostView::becomeFirstResponder();
  if (onFocusChange) onFocusChange();
  return ok;
}

bool HostedLineEdit::resignFirstResponder() {
  const bool ok = NativeHostView::resignFirstResponder();
  if (ok && onFocusChange) {
    // Told after the window has moved its first responder on.
    platform::WeakRef<HostedLineEdit> self(this);
    platform::mainQueue().async([self] {
      if (HostedLineEdit* h = self.get(); h && h->onFocusChange) h->onFocusChange();
    });
  }
  return ok;
}

CustomInnerTextField::CustomInnerTextField() {
  QPalette palette = lineEdit()->palette();
  palette.setColor(QPalette::Text, Globals::colorBlack());
  lineEdit()->setPalette(palette);
}

// The framed field.

CustomTextField::CustomTextField() : mInnerField(std::make_shared<CustomInnerTextField>()) {
  addSubview(mInnerField);
  installReducedMenu(*mInnerField, [](const platform::Menu& offered) { return createTextFieldMenuFrom(offered); });
}

QString CustomTextField::text() const { return mInnerField->lineEdit() ? mInnerField->lineEdit()->text() : QString(); }

void CustomTextField::setText(const QString& text) {
  if (QLineEdit* edit = mInnerField->lineEdit()) edit->setText(text);
}

void CustomTextField::applyLayout() {
  const QRectF b = bounds();
  if (b.isEmpty()) return;
  mInnerField->setFrame(b.adjusted(9, 3, -9, -3));
}

void CustomTextField::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  BaseView::drawRect(painter, dirtyRect);
  QPainterPath path;
  path.addRoundedRect(bounds(), 2, 2);
  painter.strokePath(path, QPen(Globals::colorLightGray(), 2));
}

std::shared_ptr<platform::Menu> CustomTextField::textViewMenu(const platform::Menu& offered) const {
  return createTextFieldMenuFrom(offered);
}

// The reduced menu.

std::shared_ptr<platform::Menu> CustomTextField::createTextFieldMenuFrom(const platform::Menu& menu) {
  auto target = std::make_shared<platform::Menu>(menu.title());
  if (processMenu(menu, *target)) target->addItem(platform::MenuItem::separator());
  return target;
}

bool CustomTextField::processMenu(const platform::Menu& source, platform::Menu& target) {
  static const QStringList kKept = {"cut", "copy", "paste", "uppercaseWord", "lowercaseWord", "capitalizeWord"};
  bool nothingAdded = true;
  for (const auto& item : source.items()) {
    if (!item) continue;
    if (!item->isSeparator() && kKept.contains(item->action())) {
      target.addItem(std::make_shared<platform::MenuItem>(*item));
      nothingAdded = false;
    }
    if (item->submenu()) {
      if (!nothingAdded) target.addItem(platform::MenuItem::separator());
      nothingAdded = processMenu(*item->submenu(), target);
    }
  }
  return true;
}

// What the line edit offers.

namespace {

QString capitalized(const QString& text) {
  QString result = text.toLower();
  bool wordStart = true;
  for (QChar& c : result) {
    if (c.isLetterOrNumber()) {
      if (wordStart) c = c.toUpper();
      wordStart = false;
    } else {
      wordStart = true;
    }
  }
  return result;
}

// Replaces the selection, or the word at the caret, with its transformed text, keeping it
// selected (one undo step).
void transformWord(QLineEdit* edit, const std::function<QString(const QString&)>& transform) {
  if (!edit) return;
  int start = edit->selectionStart();
  int length = edit->selectedText().size();
  if (start < 0 || length == 0) {
    const QString text = edit->text();
    start = edit->cursorPosition();
    int end = start;
    while (start > 0 && text[start - 1].isLetterOrNumber()) --start;
    while (end < text.size() && text[end].isLetterOrNumber()) ++end;
    length = end - start;
    if (length == 0) return;
  }
  const QString replaced = transform(edit->text().mid(start, length));
  edit->setSelection(start, length);
  edit->insert(replaced);
  edit->setSelection(start, int(replaced.size()));
}

}  // namespace

std::shared_ptr<platform::Menu> CustomTextField::offeredMenu(QLineEdit* edit) {
  auto menu = std::make_shared<platform::Menu>();
  if (!edit) return menu;
  QPointer<QLineEdit> e(edit);
  auto add = [&](platform::Menu& m, const char* title, const char* action, std::function<void(QLineEdit*)> run,
                 bool enabled) {
    auto item = std::make_shared<platform::MenuItem>(QString::fromLatin1(title), [e, run](platform::MenuItem&) {
      if (e) run(e.data());
    });
    item->setAction(QString::fromLatin1(action));
    item->setEnabled(enabled);
    m.addItem(item);
  };
  const bool editable = !edit->isReadOnly();
  const bool selection = edit->hasSelectedText();
  const bool canPaste = !clipboardText(QClipboard::Clipboard).isEmpty();
  add(*menu, "Undo", "undo", [](QLineEdit* l) { l->undo(); }, editable && edit->isUndoAvailable());
  add(*menu, "Redo", "redo", [](QLineEdit* l) { l->redo(); }, editable && edit->isRedoAvailable());
  menu->addItem(platform::MenuItem::separator());
  add(*menu, "Cut", "cut", [](QLineEdit* l) { l->cut(); }, editable && selection);
  add(*menu, "Copy", "copy", [](QLineEdit* l) { l->copy(); }, selection);
  const auto paste = [](QLineEdit* l) { pasteExactly(*l, QClipboard::Clipboard); };
  add(*menu, "Paste", "paste", paste, editable && canPaste);
  add(*menu, "Delete", "delete", [](QLineEdit* l) { l->del(); }, editable && selection);
  menu->addItem(platform::MenuItem::separator());
  add(*menu, "Select All", "selectAll", [](QLineEdit* l) { l->selectAll(); }, !edit->text().isEmpty());
  auto transformations = std::make_shared<platform::Menu>(QStringLiteral("Transformations"));
  add(*transformations, "Make Upper Case", "uppercaseWord",
      [](QLineEdit* l) { transformWord(l, [](const QString& s) { return s.toUpper(); }); }, editable);
  add(*transformations, "Make Lower Case", "lowercaseWord",
      [](QLineEdit* l) { transformWord(l, [](const QString& s) { return s.toLower(); }); }, editable);
  add(*transformations, "Capitalize", "capitalizeWord", [](QLineEdit* l) { transformWord(l, capitalized); }, editable);
  auto holder = std::make_shared<platform::MenuItem>(QStringLiteral("Transformations"), platform::MenuItem::Handler());
  holder->setSubmenu(transformations);
  menu->addItem(holder);
  return menu;
}

void CustomTextField::installReducedMenu(
    HostedLineEdit& host, std::function<std::shared_ptr<platform::Menu>(const platform::Menu&)> menuFor) {
  QLineEdit* edit = host.lineEdit();
  if (!edit) return;
  edit->setContextMenuPolicy(Qt::CustomContextMenu);
  platform::WeakRef<HostedLineEdit> weakHost(&host);
  QObject::connect(edit, &QLineEdit::customContextMenuRequested, edit, [weakHost, menuFor](const QPoint& at) {
    HostedLineEdit* h = weakHost.get();
    if (!h || !menuFor) return;
    const auto offered = offeredMenu(h->lineEdit());
    if (auto menu = menuFor(*offered)) menu->popUp(QPointF(at), h);
  });
}

}  // namespace orrery
