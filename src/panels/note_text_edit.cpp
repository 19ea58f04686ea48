#include "panels/note_text_edit.h"

#include "foundation/text_wrap.h"
#include "foundation/views/kit_font.h"
#include "model/document_limits.h"
#include "platform/services/font_catalog.h"
#include "platform/services/utf8_text.h"

#include <QAbstractTextDocumentLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextLayout>

#include <algorithm>
#include <initializer_list>

namespace orrery {

namespace {
using textwrap::needsWrapAnywhere;

constexpr double kFontSize = 14;
constexpr double kInsetX = 5;
constexpr double kInsetY = 3;

// Blocks this long keep their shaped glyphs and character attributes after they are laid out:
// placing the caret and drawing would otherwise work through the whole block again.
constexpr int kCachedBlockLength = 10000;

// A note that wraps anywhere is drawn without the font's optional shaping too (kerning pairs,
// ligatures; scripts that need shaping keep it): a layout after a key then takes about half.
// Both change with the layout held, or each would lay the whole note out again.
void setWrapsAnywhere(QTextEdit& edit, bool anywhere) {
  QFont font = edit.font();
  font.setStyleStrategy(anywhere ? QFont::PreferNoShaping : QFont::PreferDefault);
  edit.setFont(font);
  edit.setWordWrapMode(anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
}

bool wrapsAnywhere(const QTextEdit& edit) { return edit.wordWrapMode() == QTextOption::WrapAnywhere; }

// Qt's raw text of a document or a selection has U+2029 between paragraphs.
QString withParagraphBreaksAsNewlines(QString raw) { return raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n')); }

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

// What an editable plain QTextEdit puts into its text for `event`, as the note hands it back
// (a new paragraph as "\n", a new line as U+2028); empty when the key puts nothing in. It
// decides as the editor does: the keys it takes as commands first (moves, selections,
// clipboard, undo, deletions; a paste comes in through insertFromMimeData), then the keys that
// break the line, then the rule of Qt's text controls for text input, for which Ctrl and
// Ctrl+Shift alone type nothing but Ctrl with any other modifier (AltGr, the keypad) does.
QString textTypedBy(const QKeyEvent& event) {
  using Key = QKeySequence;
  const auto takenAs = [&event](std::initializer_list<Key::StandardKey> commands) {
    return std::any_of(commands.begin(), commands.end(), [&](Key::StandardKey k) { return event.matches(k); });
  };
  // The moves and selections of the caret (by character, word, line, page, block and document)
  // are the run from MoveToNextChar to SelectEndOfDocument.
  for (int k = Key::MoveToNextChar; k <= Key::SelectEndOfDocument; ++k)
    if (event.matches(Key::StandardKey(k))) return {};
  if (takenAs({Key::SelectAll, Key::Copy}) || event.key() == Qt::Key_Direction_L ||
      event.key() == Qt::Key_Direction_R ||
      (event.key() == Qt::Key_Backspace && !(event.modifiers() & ~Qt::ShiftModifier)))
    return {};
  if (takenAs({Key::InsertParagraphSeparator})) return QStringLiteral("\n");
  if (takenAs({Key::InsertLineSeparator})) return QString(QChar::LineSeparator);
  if (takenAs({Key::Undo, Key::Redo, Key::Cut, Key::Paste, Key::Delete, Key::Backspace, Key::DeleteEndOfWord,
               Key::DeleteStartOfWord, Key::DeleteEndOfLine}))
    return {};
  const QString text = event.text();
  if (text.isEmpty()) return {};
  const QChar c = text.front();
  if (c.category() == QChar::Other_Format) return text;
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  if (modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) return {};
  const bool typed = c.isPrint() || c.category() == QChar::Other_PrivateUse || c == QLatin1Char('\t') ||
                     (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate());
  return typed ? text : QString();
}

}  // namespace

HeldLayout::HeldLayout(QTextDocument* document) : mPage(document->pageSize()) {
  // A page of no size stops the layout: changes meanwhile only drop what was laid out.
  if (mPage.isNull()) return;
  mDocument = document;
  document->setPageSize(QSizeF(0, 0));
}

HeldLayout::~HeldLayout() {
  if (mDocument) mDocument->setPageSize(mPage);
}

NoteTextEdit::NoteTextEdit() {
  // Told of a change before the layout lays it out, and again once it is done.
  connect(document(), &QTextDocument::contentsChange, this,
          [this](int from, int /*removed*/, int added) { fitLayoutTo(from, added); });
  connect(document(), &QTextDocument::contentsChanged, this, [this] { mHeldForChange.reset(); });
}

void NoteTextEdit::fitLayoutTo(int from, int added) {
  for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= from + added;
       block = block.next()) {
    if (block.length() >= kCachedBlockLength) block.layout()->setCacheEnabled(true);
  }
  // However the text came in (typed, pasted, dropped, composed, undone, redone, loaded), it is
  // in the document but not laid out yet: the layout waits until the change is done, and lays
  // it out once in the new wrap.
  const bool anywhere = needsWrapAnywhere(noteTextOf(*document()));
  if (anywhere == wrapsAnywhere(*this)) return;
  if (!mHeldForChange) mHeldForChange.emplace(document());
  setWrapsAnywhere(*this, anywhere);
}

bool NoteTextEdit::hasRoomFor(qsizetype inserted) const {
  // The plain text has one character per block separator, less the last.
  const qsizetype length = document()->characterCount() - 1;
  const QTextCursor cursor = textCursor();
  const qsizetype replaced = cursor.selectionEnd() - cursor.selectionStart();
  return length - replaced + inserted <= DocumentLimits::kMaxTextLength;
}

bool NoteTextEdit::refusesToInsert(const QString& inserted) {
  if (inserted.isEmpty() || isReadOnly()) return false;
  QString why;
  if (!hasRoomFor(inserted.size())) {
    why = DocumentLimits::textTooLongMessage();
  } else if (mRoomCheck) {
    // The note as it would be handed back: plain text, the selection replaced.
    QString note = noteTextOf(*document());
    const QTextCursor cursor = textCursor();
    note.replace(cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart(), inserted);
    why = mRoomCheck(note);
  }
  if (why.isEmpty()) return false;
  if (mRefused) mRefused(why);
  return true;
}

QMimeData* NoteTextEdit::createMimeDataFromSelection() const {
  // The selection as the note holds it, no-break spaces and line separators as they are.
  auto* data = new QMimeData;
  data->setText(withParagraphBreaksAsNewlines(textCursor().selectedText()));
  platform::offerExactUtf8Text(*data);  // a drag of it too
  return data;
}

void NoteTextEdit::insertFromMimeData(const QMimeData* source) {
  // Rich text is not taken: what goes in is the source's plain text, a leading U+FEFF kept.
  if (!source) return;
  QMimeData plain;
  plain.setText(platform::plainTextOf(*source));
  if (refusesToInsert(plain.text())) return;
  QTextEdit::insertFromMimeData(&plain);
}

void NoteTextEdit::keyPressEvent(QKeyEvent* event) {
  if (refusesToInsert(textTypedBy(*event))) {
    event->accept();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void NoteTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (refusesToInsert(event->commitString())) {
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
  const HeldLayout held(edit.document());
  edit.setPlainText(text);
  applyInset(edit);
}

QString noteTextOf(const QTextDocument& document) { return withParagraphBreaksAsNewlines(document.toRawText()); }

void ensureNoteTextWidth(QTextEdit& edit) {
  // A new width lays the whole text out again, so only a changed one is set.
  const double width = edit.viewport()->width();
  if (width > 0 && width != edit.document()->textWidth()) edit.document()->setTextWidth(width);
  edit.document()->documentLayout()->documentSize();
}

}  // namespace orrery
