#pragma once
// The hosted text editor both note views use: plain text in "HelveticaNeue" 14 through the
// font map, no frame, a vertical scroll bar that never hides and no horizontal one, text
// inset 5 across and 3 down. Main thread only.

class QString;
class QTextEdit;

namespace orrery {

QTextEdit* makeNoteTextEdit(bool readOnly);
// Replaces the text, keeping the inset.
void setNoteText(QTextEdit& edit, const QString& text);
// Lays the whole text out at the viewport's width, so the scroll range covers all of it.
void ensureNoteTextWidth(QTextEdit& edit);

}  // namespace orrery
