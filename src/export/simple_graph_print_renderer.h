#pragma once
// The map page of a PDF or a print: a header with the date and the root's title above the
// whole map, shrunk to fit the page (never enlarged), centred. Draws into a painter whose y
// grows upwards, on the calling thread, from a copy of the tree nobody changes.

#include "model/idea.h"

#include <QDateTime>
#include <QRectF>
#include <QString>

class QPainter;

namespace orrery {

class SimpleGraphPrintRenderer {
 public:
  // `frozen`: a snapshot copy. A null date shows the time of drawing.
  SimpleGraphPrintRenderer(IdeaPtr frozen, QDateTime lastModified);

  bool showNoteNumbers() const { return mShowNoteNumbers; }
  void setShowNoteNumbers(bool show) { mShowNoteNumbers = show; }

  void renderInContext(QPainter& painter, const QRectF& pageRect);
  void drawHeader(const QDateTime& date, const QString& title, QPainter& painter, const QRectF& innerBox);

 private:
  IdeaPtr mIdea;
  QDateTime mLastModified;
  bool mShowNoteNumbers = false;
};

}  // namespace orrery
