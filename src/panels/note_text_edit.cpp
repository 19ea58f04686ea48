#include "panels/note_text_edit.h"

#include "foundation/views/kit_font.h"
#include "model/document_limits.h"
#include "platform/services/font_catalog.h"

#include <QAbstractTextDocumentLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextFrame>

namespace orrery {

namespace {
constexpr double kFontSize = 14;
constexpr double kInsetX = 5;
constexpr double kInsetY = 3;

// The document margin pads all four sides alike; the inset is 5 across and 3 down.
void applyInset(QTextEdit& edit) {
  QTextFrameFormat inset = edit.document()->rootFrame()->frameFormat();
  inset.setMargin(0);
  inset.setLeftMargin(kInsetX);
  inset.setRightMargin(kInsetX);
  inset.setTopMargin(kInsetY);
  inset.setBottomMargin(kInsetY);
  edit.document()->rootFrame()->setFrameFormat(inset);
}
}  // namespace

bool NoteTextEdit::hasRoomFor(qsizetype inserted) const {
  // The plain text has one character per block separator, less the last.
  const qsizetype length = document()->characterCount() - 1;
  const QTextCursor cursor = textCursor();
  const qsizetype replaced = cursor.selectionEnd() - cursor.selectionStart();
  return length - replaced + inserted <= DocumentLimits::kMaxTextLength;
}

bool NoteTextEdit::refusesToInsert(qsizetype inserted) {
  if (inserted <= 0 || isReadOnly() || hasRoomFor(inserted)) return false;
  if (mRefused) mRefused();
  return true;
}

void NoteTextEdit::insertFromMimeData(const QMimeData* source) {
  // Rich text is not taken: what goes in is the source's plain text.
  if (source && refusesToInsert(source->text().size())) return;
  QTextEdit::insertFromMimeData(source);
}

void NoteTextEdit::keyPressEvent(QKeyEvent* event) {
  // Shortcuts (paste among them) go their own ways; a key typed as text inserts its text, Return
  // a line break.
  const bool lineBreak = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const QString text = event->text();
  const bool typed = !text.isEmpty() && (text.front().isPrint() || text.front() == QLatin1Char('\t')) &&
                     !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
  if ((lineBreak || typed) && refusesToInsert(lineBreak ? 1 : text.size())) {
    event->accept();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void NoteTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (refusesToInsert(event->commitString().size())) {
    event->accept();
    return;
  }
  QTextEdit::inputMethodEvent(event);
}

NoteTextEdit* makeNoteTextEdit(bool readOnly) {
  auto* edit = new NoteTextEdit;
  edit->setReadOnly(readOnly);
  edit->setAcceptRichText(false);
  edit->setUndoRedoEnabled(!readOnly);
  edit->setTabChangesFocus(false);
  edit->setFrameShape(QFrame::NoFrame);
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit->setLineWrapMode(QTextEdit::WidgetWidth);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  edit->setPalette(palette);
  const QFont face = platform::fontNamed(QStringLiteral("HelveticaNeue"), kFontSize).value_or(QFont());
  edit->setFont(kitFont(face, kFontSize));
  applyInset(*edit);
  return edit;
}

void setNoteText(QTextEdit& edit, const QString& text) {
  edit.setPlainText(text);
  applyInset(edit);
}

void ensureNoteTextWidth(QTextEdit& edit) {
  const double width = edit.viewport()->width();
  if (width > 0) edit.document()->setTextWidth(width);
  edit.document()->documentLayout()->documentSize();
}

}  // namespace orrery
