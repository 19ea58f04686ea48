#include "panels/color_matrix.h"

#include "model/color_theme.h"
#include "platform/ui/event.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orrery {

ColorMatrix::ColorMatrix(std::uint64_t rows, std::uint64_t columns)
    : mColumns(columns), mRows(rows) {
  mItems.reserve(rows * columns);
  for (std::uint64_t r = 0; r < rows; ++r)
    for (std::uint64_t c = 0; c < columns; ++c) mItems.push_back(ColorMatrixItem{r, c, nullptr});
}

std::shared_ptr<ColorMatrix> ColorMatrix::fromThemes(const std::vector<ColorThemePtr>& themes) {
  const std::uint64_t columns = themes.empty() || !themes.front() ? 0 : themes.front()->colors().size();
  auto matrix = std::make_shared<ColorMatrix>(themes.size(), columns);
  for (std::uint64_t r = 0; r < themes.size(); ++r) {
    if (!themes[r]) continue;
    const auto& colors = themes[r]->colors();
    const std::uint64_t count = std::min<std::uint64_t>(columns, colors.size());
    for (std::uint64_t c = 0; c < count; ++c) matrix->setColor(colors[c], r, c);
  }
  return matrix;
}

const std::shared_ptr<const ColorMatrix>& ColorMatrix::classicColorMatrix() {
  static const std::shared_ptr<const ColorMatrix> matrix = fromThemes(ColorTheme::standardThemes());
  return matrix;
}

const std::shared_ptr<const ColorMatrix>& ColorMatrix::brightColorMatrix() {
  static const std::shared_ptr<const ColorMatrix> matrix = fromThemes(ColorTheme::brightColorThemes());
  return matrix;
}

const ColorMatrixItem* ColorMatrix::itemAtRow(std::uint64_t row, std::uint64_t col) const {
  if (row >= mRows || col >= mColumns) return nullptr;
  return &mItems[row * mColumns + col];
}

void ColorMatrix::setColor(ColorPtr color, std::uint64_t row, std::uint64_t col) {
  if (row >= mRows || col >= mColumns) return;
  mItems[row * mColumns + col].color = std::move(color);
}

ColorPtr ColorMatrix::colorWithName(const QString& name) const {
  for (const ColorMatrixItem& item : mItems)
    if (item.color && item.color->name() == name) return item.color;
  return nullptr;
}

ColorMatrixView::ColorMatrixView(std::shared_ptr<const ColorMatrix> matrix)
    : mMatrix(matrix ? std::move(matrix) : std::make_shared<const ColorMatrix>(0, 0)) {}

void ColorMatrixView::setFrameSizeForWidth(double width) {
  const std::uint64_t columns = mMatrix->columns();
  mCenterToCenter = columns > 1 ? (width - kSideMargin) / double(columns - 1) : kFallbackPitch;
  mFirstYPos = kFirstYPos;
  const double rowsBelow = mMatrix->rows() > 0 ? double(mMatrix->rows() - 1) : 0;
  setFrame(QRectF(frame().topLeft(), QSizeF(width, rowsBelow * mCenterToCenter + 2 * kFirstYPos)));
  setNeedsDisplay();
}

void ColorMatrixView::selectColor(const ColorPtr& color) {
  mSelectedColor = color;
  setNeedsDisplay();
}

QPointF ColorMatrixView::centerOf(std::uint64_t row, std::uint64_t col) const {
  const double columnsBetween = mMatrix->columns() > 0 ? double(mMatrix->columns() - 1) : 0;
  const double x0 = (bounds().width() - columnsBetween * mCenterToCenter) * 0.5;
  return QPointF(std::trunc(double(col) * mCenterToCenter + x0), std::trunc(double(row) * mCenterToCenter + mFirstYPos));
}

void ColorMatrixView::drawRect(QPainter& painter, const QRectF& /*dirtyRect*/) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  for (std::uint64_t r = 0; r < mMatrix->rows(); ++r) {
    for (std::uint64_t c = 0; c < mMatrix->columns(); ++c) {
      const ColorMatrixItem* item = mMatrix->itemAtRow(r, c);
      if (!item || !item->color) continue;
      const QPointF center = centerOf(r, c);
      if (mSelectedColor && item->color->name() == mSelectedColor->name()) {
        painter.setBrush(QColor::fromRgbF(0.3f, 0.3f, 0.3f, 1.0f));
        painter.drawEllipse(center, kRingDiameter / 2, kRingDiameter / 2);
      }
      painter.setBrush(item->color->uiColor());
      painter.drawEllipse(center, kSwatchDiameter / 2, kSwatchDiameter / 2);
    }
  }
  painter.restore();
}

const ColorMatrixItem* ColorMatrixView::itemAtPoint(const QPointF& point) const {
  const std::uint64_t columns = mMatrix->columns();
  const std::uint64_t rows = mMatrix->rows();
  const QRectF b = bounds();
  if (columns == 0 || rows == 0 || b.width() <= 0 || b.height() <= 0) return nullptr;
  const double cellWidth = b.width() / double(columns);
  const double cellHeight = b.height() / double(rows);
  const double x = std::max(0.0, point.x() - b.x());
  const double y = std::max(0.0, point.y() - b.y());
  const std::uint64_t col = std::min<std::uint64_t>(columns - 1, std::uint64_t(x / cellWidth));
  const std::uint64_t row = std::min<std::uint64_t>(rows - 1, std::uint64_t(y / cellHeight));
  return mMatrix->itemAtRow(row, col);
}

void ColorMatrixView::mouseDown(const platform::Event& event) {
  BaseView::mouseDown(event);
  const ColorMatrixItem* item = itemAtPoint(convertPoint(event.locationInWindow, nullptr));
  mSelectedColor = item ? item->color : nullptr;
  setNeedsDisplay();
  if (ColorMatrixViewDelegate* d = delegate()) d->handleColorSelection(mSelectedColor);
}

}  // namespace orrery
