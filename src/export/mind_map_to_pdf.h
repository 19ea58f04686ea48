#pragma once
// Writes a map as an A4 PDF: page 1 the whole map under a header (date, root title), then,
// with notes, numbered note pages. Everything is laid out on a 746 × 1090 layout area and
// mapped onto each page's printable area (18 points in from the edges).
//
// Made on the main thread, where it takes its copy of the tree: later edits are not exported.
// The document is generated and written on the background global queue, into a temporary
// beside the file and renamed over it when complete; the completion runs on the main queue.

#include "export/note_renderer.h"
#include "foundation/my_result.h"
#include "model/idea.h"

#include <QByteArray>
#include <QDateTime>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

class QPainter;
class QPdfWriter;

namespace orrery {

class MindMapToPDF : public NoteRendererDelegate {
 public:
  static constexpr QRectF kPageRect{0, 0, 595, 842};
  static constexpr QRectF kPageInnerRect{18, 18, 559, 806};

  // Main thread: copies the tree now. A null date prints the time of the export.
  MindMapToPDF(const IdeaPtr& idea, QDateTime lastModified);
  ~MindMapToPDF() override;

  bool showNotes() const { return mShowNotes; }
  void setShowNotes(bool show) { mShowNotes = show; }

  // Returns at once; `completion` (may be empty) runs on the main queue with OK or the error.
  void writePDFIntoURL(const QString& path, std::function<void(const MyResultPtr&)> completion);
  // The document, on the calling thread; empty with `error` set when it cannot be made.
  QByteArray generatePDF(QString* error = nullptr);
  // Generates and writes the file atomically, on the calling thread.
  MyResultPtr writePDFNow(const QString& path);

  QPainter* startNotePage(QRectF* pageRect) override;
  void endNotePage() override;

 private:
  IdeaPtr mIdea;
  QDateTime mLastModified;
  bool mShowNotes = false;
  QPdfWriter* mWriter = nullptr;  // during generatePDF only, owned there
  QPainter* mCtx = nullptr;       // during generatePDF only, owned there
  int mPagesBegun = 0;
};

}  // namespace orrery
