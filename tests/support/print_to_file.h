#pragma once
// A scripted answer to the print panel: prints to a PDF file in the given orientation, all
// pages or pages `from` to `to`.

#include "platform/ui/modal_presenter.h"

#include <QPageLayout>
#include <QPrinter>
#include <QString>

#include <functional>

namespace testsupport {

inline std::function<int(QPrinter&)> printToPdfFile(const QString& path, QPageLayout::Orientation orientation,
                                                    int from = 0, int to = 0) {
  return [=](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageOrientation(orientation);
    if (from > 0) {
      printer.setPrintRange(QPrinter::PageRange);
      printer.setFromTo(from, to);
    }
    return platform::kModalResponseOK;
  };
}

}  // namespace testsupport
