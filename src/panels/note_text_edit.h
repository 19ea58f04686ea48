#pragma once
// The hosted text editor both note views use: plain text in "HelveticaNeue" 14 through the
// font map, no frame, a vertical scroll bar that never hides and no horizontal one, text
// inset 5 across and 3 down. Main thread only.

#include <QSizeF>
#include <QString>
#include <QTextEdit>

#include <functional>
#include <optional>

class QMimeData;
class QTextDocument;

namespace orrery {

// While it lives, `document` lays nothing out; at its end the text is laid out once, with
// whatever changed meanwhile. Within another, it leaves the layout to the outer one.
class HeldLayout {
 public:
  explicit HeldLayout(QTextDocument* document);
  ~HeldLayout();
  HeldLayout(const HeldLayout&) = delete;
  HeldLayout& operator=(const HeldLayout&) = delete;

 private:
  QTextDocument* mDocument = nullptr;
  QSizeF mPage;
};

// A note never grows beyond the text a map may hold (DocumentLimits::kMaxTextLength), nor
// beyond what its owner's room check lets in: typing, pasting, dropping or composing that would
// take it there inserts nothing, the note stays as it was, and the owner is told why.
//
// Any note within that limit lays out in time linear in its length. Lines wrap at word
// boundaries, unless the note holds so many characters without a place to break that Qt's
// word wrap would take quadratic time over them (it scans each line on to the next break):
// then the whole note wraps anywhere, which is how the word wrap breaks such runs too, and is
// drawn without the font's optional shaping. Its text is never changed to fit.
class NoteTextEdit final : public QTextEdit {
 public:
  NoteTextEdit();
  // Asked before a text goes in, with the note as it would be then: empty when it may go in,
  // else why not.
  using RoomCheck = std::function<QString(const QString& note)>;
  void setRoomCheck(RoomCheck check) { mRoomCheck = std::move(check); }
  void setRefusalHandler(std::function<void(const QString& why)> refused) { mRefused = std::move(refused); }
  // Whether `inserted` characters in place of the selection keep the note within the limit.
  bool hasRoomFor(qsizetype inserted) const;

 protected:
  QMimeData* createMimeDataFromSelection() const override;
  void insertFromMimeData(const QMimeData* source) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  bool refusesToInsert(const QString& inserted);
  // Readies the layout for a change from `from` on, `added` characters long, before Qt lays
  // it out: the wrap and the shaping the whole note needs.
  void fitLayoutTo(int from, int added);
  RoomCheck mRoomCheck;
  std::function<void(const QString&)> mRefused;
  // Holds the layout from the start of a change that changes the wrap until the change is done.
  std::optional<HeldLayout> mHeldForChange;
};

// The note as the editor holds it: every character as it is, a break between paragraphs as "\n"
// (toPlainText would make a no-break space a space, and a line separator a "\n"). A note the
// document cannot hold as it is ("\r\n", "\r" or U+2029 between paragraphs) comes back with "\n".
QString noteTextOf(const QTextDocument& document);

NoteTextEdit* makeNoteTextEdit(bool readOnly);
// Replaces the text of a note made by makeNoteTextEdit, keeping the inset and laying it out
// once, in the wrap it needs.
void setNoteText(QTextEdit& edit, const QString& text);
// Lays the whole text out at the viewport's width, so the scroll range covers all of it.
void ensureNoteTextWidth(QTextEdit& edit);

}  // namespace orrery
