#include "export/printed_view.h"

#include "export/page_mapping.h"
#include "export/simple_graph_print_renderer.h"

#include <QPainter>

namespace orrery {

PrintedView::PrintedView(const IdeaPtr& idea, QDateTime lastModified)
    : mIdea(idea ? idea->snapshotCopy() : nullptr),
      mLastModified(lastModified.isValid() ? std::move(lastModified) : QDateTime::currentDateTimeUtc()) {}

PrintedView::~PrintedView() = default;

int PrintedView::ensureNotePDF() {
  mPlatonicInnerSize = layoutAreaSize(/*portrait=*/mPageRect.height() > mPageRect.width());
  // Pages made for the other orientation would print sideways-scaled: make them again.
  if (mNotesMade && mNotesLayout == mPlatonicInnerSize) return static_cast<int>(mNotePages.size());
  mNotePages.clear();
  mNotesMade = true;
  mNotesLayout = mPlatonicInnerSize;
  if (!mIdea || !NoteRenderer::hasNotes(*mIdea)) return 0;
  NoteRenderer notes(this);
  notes.renderIdeaNotesRecursively(*mIdea, 1);
  notes.finishRendering();
  return static_cast<int>(mNotePages.size());
}

QPainter* PrintedView::startNotePage(QRectF* pageRect) {
  mNotePages.push_back(std::make_unique<QPicture>());
  mNotePainter = std::make_unique<QPainter>(mNotePages.back().get());
  mNotePainter->save();
  *pageRect = QRectF(QPointF(0, 0), mNotesLayout);
  return mNotePainter.get();
}

void PrintedView::endNotePage() {
  if (!mNotePainter) return;
  mNotePainter->restore();
  mNotePainter->end();
  mNotePainter.reset();
}

bool PrintedView::knowsPageRange(const platform::PrintInfo& info, int* first, int* last) {
  mPageRect = info.imageablePageBounds;
  const int notePages = ensureNotePDF();
  *first = 1;
  *last = notePages + 1;
  return true;
}

QRectF PrintedView::rectForPage(int page) {
  mCurrentPage = page - 1;
  return mPageRect;
}

void PrintedView::drawRect(QPainter& painter, const QRectF& /*rect*/) {
  painter.save();
  scaleContext(painter, mPlatonicInnerSize, mPageRect);
  if (mCurrentPage == 0) {
    SimpleGraphPrintRenderer map(mIdea, mLastModified);
    map.setShowNoteNumbers(!mNotePages.empty());
    map.renderInContext(painter, QRectF(QPointF(0, 0), mPlatonicInnerSize));
  } else if (mCurrentPage <= static_cast<int>(mNotePages.size())) {
    const QPicture& page = *mNotePages[static_cast<size_t>(mCurrentPage - 1)];
    // A picture replays scaled by the device's resolution over the one it was recorded at (96
    // against a printer's 72); it was recorded in layout units, so undo that.
    const QPaintDevice* device = painter.device();
    if (device && device->logicalDpiX() > 0 && device->logicalDpiY() > 0)
      painter.scale(double(page.logicalDpiX()) / device->logicalDpiX(), double(page.logicalDpiY()) / device->logicalDpiY());
    painter.drawPicture(QPointF(0, 0), page);
  }
  painter.restore();
}

}  // namespace orrery
