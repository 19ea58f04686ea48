#include "platform/print/print_operation.h"

#include "platform/ui/modal_presenter.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include <algorithm>

namespace platform {

PrintOperation::PrintOperation(PrintableView& view)
    : mView(view), mPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  mPrinter->setPageSize(QPageSize(QPageSize::A4));
}

PrintOperation::~PrintOperation() = default;

PrintInfo PrintOperation::printInfo() const {
  const QPageLayout layout = mPrinter->pageLayout();
  const QRectF paper = layout.fullRectPoints();
  const QRectF page = layout.paintRectPoints();
  PrintInfo info;
  info.paperRect = QRectF(0, 0, paper.width(), paper.height());
  // Qt measures from the top; the printed view's y grows upwards from the bottom.
  info.imageablePageBounds =
      QRectF(page.x(), paper.height() - page.y() - page.height(), page.width(), page.height());
  return info;
}

PrintOperation::Outcome PrintOperation::runOperation(QString* error) {
  auto failWith = [&](const QString& why) {
    if (error) *error = why;
    return Outcome::Failed;
  };
  if (modalPresenter().runPrintPanel(*mPrinter) != kModalResponseOK) return Outcome::Cancelled;

  const PrintInfo info = printInfo();
  int first = 1;
  int last = 1;
  if (!mView.knowsPageRange(info, &first, &last) || last < first) return failWith(QStringLiteral("Nothing to print"));
  if (mPrinter->printRange() == QPrinter::PageRange && mPrinter->fromPage() > 0) {
    first = std::max(first, mPrinter->fromPage());
    last = std::min(last, mPrinter->toPage() > 0 ? mPrinter->toPage() : last);
    if (last < first) return failWith(QStringLiteral("The chosen pages do not exist"));
  }

  mPrinter->setFullPage(true);  // the painter's origin is the paper's corner
  // One device unit per point, as in a PDF: a 12-point font is 12 units whatever the printer.
  mPrinter->setResolution(72);
  QPainter painter;
  if (!painter.begin(mPrinter.get())) return failWith(QStringLiteral("The printer cannot be started"));
  const double scale = mPrinter->resolution() / 72.0;
  for (int page = first; page <= last; ++page) {
    if (page > first && !mPrinter->newPage()) {
      painter.end();
      return failWith(QStringLiteral("The printer refused a new page"));
    }
    painter.save();
    painter.scale(scale, scale);
    painter.translate(0, info.paperRect.height());
    painter.scale(1, -1);
    const QRectF rect = mView.rectForPage(page);
    mView.drawRect(painter, rect);
    painter.restore();
  }
  if (!painter.end() || mPrinter->printerState() == QPrinter::Error)
    return failWith(QStringLiteral("Printing failed"));
  return Outcome::Printed;
}

}  // namespace platform
