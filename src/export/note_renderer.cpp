#include "export/note_renderer.h"

#include "export/export_text.h"
#include "export/tree_walk.h"
#include "foundation/globals.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {

// A small tracking that keeps the heavy digits of the number apart.
constexpr double kNumberLetterSpacing = 0.5;

}  // namespace

NoteRenderer::NoteRenderer(NoteRendererDelegate* delegate)
    : mDelegate(delegate), mHeader(Globals::normalUppercaseStringForKey(QString(), QStringLiteral("Notes"))) {}

NoteRenderer::~NoteRenderer() = default;

bool NoteRenderer::hasNotes(const Idea& idea) {
  // A link has no children, so the walk never reaches below one.
  bool found = false;
  walkTree(idea, 0, [&](const Idea& current, qint64 /*level*/) {
    if (!current.isLink() && current.hasNote()) found = true;
  });
  return found;
}

std::int64_t NoteRenderer::renderIdeaNotesRecursively(const Idea& idea, std::int64_t number) {
  walkTree(idea, 0, [&](const Idea& current, qint64 /*level*/) {
    if (current.isLink() || !current.hasNote()) return;
    renderNote(number, current.note(), current.text());
    ++number;
  });
  return number;
}

void NoteRenderer::finishRendering() { endPage(); }

void NoteRenderer::startNewPage() {
  if (mHasStartedPage) endPage();
  QRectF pageRect;
  mCtx = mDelegate ? mDelegate->startNotePage(&pageRect) : nullptr;
  if (!mCtx) return;
  mPageRect = pageRect;
  mHasStartedPage = true;
  mCtx->save();
  mColumnArea = QRectF(mPageRect.x() + 8, mPageRect.y(), mPageRect.width() - 8, mPageRect.height() - 50);
  mMaxColumns = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::trunc(mColumnArea.width())) /
                                              static_cast<std::int64_t>(kColumnWidth));
  if (mFontDevice != mCtx->device()) {
    mFontDevice = mCtx->device();
    mHeaderFont = exportFont(Globals::fontAvenirHeavy(7), 7, mFontDevice);
    mNumberFont = exportFont(Globals::fontAvenirHeavy(14), 14, mFontDevice);
    mNumberFont.setLetterSpacing(QFont::AbsoluteSpacing, kNumberLetterSpacing);
    mTitleFont = exportFont(Globals::fontAvenirMedium(16), 16, mFontDevice);
    mNoteFont = exportFont(Globals::fontAvenirMedium(12), 12, mFontDevice);
  }
  mCtx->fillRect(mPageRect, Qt::white);
  mCurrentLine = 0;
  mCurrentCol = 0;
  drawFirstLine(*mCtx, mHeader, mHeaderFont, Globals::colorGray46(),
                /*width=*/0, QPointF(mPageRect.x() + 1, mPageRect.y() + mPageRect.height() - 8));
}

void NoteRenderer::endPage() {
  if (!mHasStartedPage) return;
  mCtx->restore();
  mHasStartedPage = false;
  mCtx = nullptr;
  if (mDelegate) mDelegate->endNotePage();
}

void NoteRenderer::ensureAtLeast(double height, bool force) {
  if (!force && mColumnArea.height() - mCurrentLine > height) return;
  if (mCurrentCol >= mMaxColumns - 1) {
    startNewPage();
  } else {
    ++mCurrentCol;
    mCurrentLine = 0;
  }
}

void NoteRenderer::renderNote(std::int64_t number, const QString& note, const QString& title) {
  if (!mHasStartedPage) startNewPage();
  if (!mHasStartedPage) return;  // the delegate gave no page
  ensureAtLeast(kEntryRoom);
  if (!mHasStartedPage) return;

  mCurrentLine += 14;
  drawFirstLine(*mCtx, QString::asprintf("%03lld", static_cast<long long>(number)), mNumberFont,
                Globals::colorBlack(), /*width=*/0, QPointF(columnX(), columnTop() - mCurrentLine + 1));
  // The first line alone, broken within the text width: the entry's room is fixed, so more
  // lines would run past the column's foot.
  drawFirstLine(*mCtx, title, mTitleFont, Globals::colorBlack(), kTextWidth,
                QPointF(columnX() + kTextLeftMargin, columnTop() - mCurrentLine));
  mCurrentLine += 20;

  if (!note.isEmpty()) {
    // Laid out once at the frame width; the frames take consecutive lines of it.
    const auto layout = layOutText(note, mNoteFont, kTextWidth, mCtx->device());
    int next = 0;
    bool firstFrame = true;
    while (next < layout->lineCount()) {
      if (!firstFrame) ensureAtLeast(kEntryRoom);
      if (!mHasStartedPage) return;
      firstFrame = false;
      const double frameHeight = mColumnArea.height() - mCurrentLine;
      const double top = layout->lineAt(next).y();
      int last = next;
      while (last < layout->lineCount() &&
             layout->lineAt(last).y() + layout->lineAt(last).height() - top <= frameHeight)
        ++last;
      bool clip = false;
      if (last == next) {
        // Not even one line fits. Further down a column the entry moves on; at the top of a
        // fresh column the line is drawn anyway, cut to the column, so the pass always ends.
        if (mCurrentLine > 0) {
          ensureAtLeast(kEntryRoom, /*force=*/true);
          firstFrame = true;  // already moved on
          continue;
        }
        last = next + 1;
        clip = true;
      }
      const double x = columnX() + kTextLeftMargin;
      const double frameTop = columnTop() - mCurrentLine;
      mCtx->save();
      if (clip) mCtx->setClipRect(QRectF(x, mColumnArea.y(), kTextWidth, std::max(0.0, frameHeight)));
      for (int i = next; i < last; ++i) {
        const QTextLine line = layout->lineAt(i);
        drawLineAt(*mCtx, line, QPointF(x, frameTop - (line.y() - top) - line.ascent()), Globals::colorBlack());
      }
      mCtx->restore();
      // The frame's measured height: first to last baseline plus the first and last line heights.
      const QTextLine first = layout->lineAt(next);
      const QTextLine lastLine = layout->lineAt(last - 1);
      const double measured = std::abs((lastLine.y() + lastLine.ascent()) - (first.y() + first.ascent())) +
                              (first.ascent() + first.descent() + first.leading()) +
                              (lastLine.ascent() + lastLine.descent() + lastLine.leading());
      mCurrentLine += measured;
      next = last;
    }
  }
  mCurrentLine += 14;
}

}  // namespace orrery
