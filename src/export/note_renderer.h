#pragma once
// Lays out the notes of a map as numbered entries (number, first line of the title, the note)
// in 240-point columns on as many pages as they need, under a "NOTES" header on each page.
// The delegate hands out each page's painter (y growing upwards) and its page area; the
// renderer decides where every line goes and when a column or page is full. One renderer
// makes one pass over one tree, on whatever thread its delegate's painters belong to.

#include "model/idea.h"

#include <QFont>
#include <QRectF>
#include <QString>

#include <cstdint>

class QPaintDevice;
class QPainter;

namespace orrery {

class NoteRendererDelegate {
 public:
  virtual ~NoteRendererDelegate() = default;
  // Begins a page: answers its painter (y up) and fills `pageRect` with the area to lay out in.
  virtual QPainter* startNotePage(QRectF* pageRect) = 0;
  virtual void endNotePage() = 0;
};

class NoteRenderer {
 public:
  static constexpr double kColumnWidth = 240;
  static constexpr double kTextWidth = 190;
  static constexpr double kTextLeftMargin = 34;
  static constexpr double kEntryRoom = 100;

  // `delegate` is not owned and outlives the pass.
  explicit NoteRenderer(NoteRendererDelegate* delegate);
  ~NoteRenderer();

  // False for a link; true when the idea or a descendant (not below a link) has a note.
  static bool hasNotes(const Idea& idea);
  // Renders the entries of the subtree from `number` on; answers the next free number.
  std::int64_t renderIdeaNotesRecursively(const Idea& idea, std::int64_t number);
  // Ends the open page, if any.
  void finishRendering();

 private:
  void startNewPage();
  void endPage();
  // Moves to the next column, or a new page after the last, unless more than `height` is left;
  // with `force` it moves in any case.
  void ensureAtLeast(double height, bool force = false);
  void renderNote(std::int64_t number, const QString& note, const QString& title);
  double columnX() const { return mColumnArea.x() + static_cast<double>(mCurrentCol) * kColumnWidth; }
  double columnTop() const { return mColumnArea.y() + mColumnArea.height(); }

  NoteRendererDelegate* mDelegate;  // not owned
  QPainter* mCtx = nullptr;         // the delegate's, valid while a page is open
  bool mHasStartedPage = false;
  std::int64_t mCurrentCol = 0;
  double mCurrentLine = 0;
  QRectF mPageRect;
  QRectF mColumnArea;
  std::int64_t mMaxColumns = 1;
  QString mHeader;
  // Made once for the first page's device: looking faces up per entry costs more than the text.
  const QPaintDevice* mFontDevice = nullptr;
  QFont mHeaderFont;
  QFont mNumberFont;
  QFont mTitleFont;
  QFont mNoteFont;
};

}  // namespace orrery
