#pragma once
// The title in the parent disc's corner: wrapped at word boundaries (anywhere inside a word too
// long for a line) within the label's width, drawn line by line from the top while a whole line
// fits the label's height. What does not fit is not drawn, nor laid out (TitleCut), and no line
// ends in an ellipsis, as on every other disc. Main thread only.

#include "foundation/views/text_label.h"

#include <QStringList>

class QTextLayout;

namespace orrery {

class ParentTitleLabel : public TextLabel {
 public:
  explicit ParentTitleLabel(const QRectF& frame);

  // The lines drawn, top to bottom.
  QStringList shownLines() const;

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  // Lays the text out into `layout`; answers how many of its lines fit.
  int layOut(QTextLayout& layout) const;
};

}  // namespace orrery
