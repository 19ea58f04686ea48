#include "export/mind_map_to_pdf.h"

#include "export/page_mapping.h"
#include "export/simple_graph_print_renderer.h"
#include "foundation/logging.h"
#include "model/document_file_writer.h"
#include "platform/core/dispatch.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace orrery {

namespace {

const QSizeF kLayout = layoutAreaSize(/*portrait=*/true);

}  // namespace

MindMapToPDF::MindMapToPDF(const IdeaPtr& idea, QDateTime lastModified)
    : mIdea(idea ? idea->snapshotCopy() : nullptr),
      mLastModified(lastModified.isValid() ? std::move(lastModified) : QDateTime::currentDateTimeUtc()) {}

MindMapToPDF::~MindMapToPDF() = default;

QByteArray MindMapToPDF::generatePDF(QString* error) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
  writer.setResolution(72);
  QPainter painter;
  if (!painter.begin(&writer)) {
    if (error) *error = QStringLiteral("the PDF document cannot be started");
    return {};
  }
  mWriter = &writer;
  mCtx = &painter;
  mPagesBegun = 1;

  // Page 1: the map. The painter is turned so that y grows upwards from the page's bottom.
  painter.fillRect(kPageRect, Qt::white);
  painter.save();
  painter.translate(0, kPageRect.height());
  painter.scale(1, -1);
  scaleContext(painter, kLayout, kPageInnerRect);
  SimpleGraphPrintRenderer map(mIdea, mLastModified);
  map.setShowNoteNumbers(mShowNotes);
  map.renderInContext(painter, QRectF(QPointF(0, 0), kLayout));
  painter.restore();

  if (mShowNotes && mIdea && NoteRenderer::hasNotes(*mIdea)) {
    NoteRenderer notes(this);
    notes.renderIdeaNotesRecursively(*mIdea, 1);
    notes.finishRendering();
  }
  painter.end();
  mCtx = nullptr;
  mWriter = nullptr;
  return data;
}

QPainter* MindMapToPDF::startNotePage(QRectF* pageRect) {
  if (!mWriter || !mCtx) return nullptr;
  if (mPagesBegun++ > 0) mWriter->newPage();
  mCtx->save();
  mCtx->translate(0, kPageRect.height());
  mCtx->scale(1, -1);
  scaleContext(*mCtx, kLayout, kPageInnerRect);
  *pageRect = QRectF(QPointF(0, 0), kLayout);
  return mCtx;
}

void MindMapToPDF::endNotePage() {
  if (mCtx) mCtx->restore();
}

MyResultPtr MindMapToPDF::writePDFNow(const QString& path) {
  QString error;
  const QByteArray data = generatePDF(&error);
  if (data.isEmpty()) return MyResult::error(QString(), QStringLiteral("%1: %2").arg(path, error));
  QString reason;
  if (writeFileReplacing(path, data, &reason) != FileWriteResult::Written) {
    const QString why = QStringLiteral("%1: %2").arg(path, reason);
    logLine(QStringLiteral("PDF export failed: %1").arg(why));
    return MyResult::error(QString(), why);
  }
  return MyResult::OK();
}

void MindMapToPDF::writePDFIntoURL(const QString& path, std::function<void(const MyResultPtr&)> completion) {
  // The copy works on its own: this object may be gone before the queue reaches it.
  auto job = std::make_shared<MindMapToPDF>(nullptr, mLastModified);
  job->mIdea = mIdea;
  job->mShowNotes = mShowNotes;
  platform::globalQueue(platform::QueuePriority::Background).async([job, path, completion] {
    const MyResultPtr result = job->writePDFNow(path);
    if (completion) platform::mainQueue().async([completion, result] { completion(result); });
  });
}

}  // namespace orrery
