#pragma once
// What a print of a map prints: page 1 the map page, every further page one page of notes.
// The note pages are recorded once as pictures on the layout area that suits the paper's
// shape (portrait 746 × 1090, landscape 1090 × 746) and recorded again when the shape changes;
// each page is scaled into the printable area, centred, touching its top. Main thread only;
// the map is a copy of the tree taken when the view is made.

#include "export/note_renderer.h"
#include "model/idea.h"
#include "platform/print/print_operation.h"

#include <QDateTime>
#include <QPicture>
#include <QSizeF>

#include <memory>
#include <vector>

namespace orrery {

class PrintedView : public platform::PrintableView, public NoteRendererDelegate {
 public:
  PrintedView(const IdeaPtr& idea, QDateTime lastModified);
  ~PrintedView() override;

  bool knowsPageRange(const platform::PrintInfo& info, int* first, int* last) override;
  QRectF rectForPage(int page) override;
  void drawRect(QPainter& painter, const QRectF& rect) override;

  // The number of note pages for the current printable area, made when first asked or when
  // the area's shape changed.
  int ensureNotePDF();
  QSizeF layoutArea() const { return mPlatonicInnerSize; }

  QPainter* startNotePage(QRectF* pageRect) override;
  void endNotePage() override;

 private:
  IdeaPtr mIdea;
  QDateTime mLastModified;
  QRectF mPageRect;
  QSizeF mPlatonicInnerSize;
  int mCurrentPage = 0;
  bool mNotesMade = false;
  QSizeF mNotesLayout;  // the layout area the note pages were recorded on
  std::vector<std::unique_ptr<QPicture>> mNotePages;
  std::unique_ptr<QPainter> mNotePainter;  // while a note page is recorded
};

}  // namespace orrery
