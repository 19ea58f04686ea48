#include "panels/note_text_edit.h"

#include "foundation/views/kit_font.h"
#include "platform/services/font_catalog.h"

#include <QAbstractTextDocumentLayout>
#include <QTextEdit>
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

QTextEdit* makeNoteTextEdit(bool readOnly) {
  auto* edit = new QTextEdit;
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
