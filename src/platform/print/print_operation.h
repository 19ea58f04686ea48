#pragma once
// The platform print operation: asks the user for the print settings through the modal
// presenter's print panel, tells the printed view the paper and its printable area (points,
// y growing upwards, origin at the paper's bottom-left), asks it for its page range, then has
// it draw each chosen page into a painter set up in those same y-up points. Main thread only;
// the printed view is never shown.

#include <QRectF>
#include <QString>

#include <memory>

class QPainter;
class QPrinter;

namespace platform {

struct PrintInfo {
  QRectF paperRect;            // (0, 0, paper width, paper height)
  QRectF imageablePageBounds;  // the printable area within it
};

class PrintableView {
 public:
  virtual ~PrintableView() = default;
  // Asked once per operation, before any page: fills the first and last page (from 1).
  virtual bool knowsPageRange(const PrintInfo& info, int* first, int* last) = 0;
  // The rectangle of page `page` (from 1) to draw, in the painter's y-up points.
  virtual QRectF rectForPage(int page) = 0;
  virtual void drawRect(QPainter& painter, const QRectF& rect) = 0;
};

class PrintOperation {
 public:
  enum class Outcome { Printed, Cancelled, Failed };

  // `view` is not owned and outlives the operation.
  explicit PrintOperation(PrintableView& view);
  ~PrintOperation();
  PrintOperation(const PrintOperation&) = delete;
  PrintOperation& operator=(const PrintOperation&) = delete;

  // The settings the panel starts from (the defaults: A4 portrait unless changed).
  QPrinter& printer() { return *mPrinter; }
  // The paper and printable area of the current settings, y up.
  PrintInfo printInfo() const;
  // Shows the panel, then prints the chosen pages; on failure `error` says why.
  Outcome runOperation(QString* error = nullptr);

 private:
  PrintableView& mView;  // not owned
  std::unique_ptr<QPrinter> mPrinter;
};

}  // namespace platform
