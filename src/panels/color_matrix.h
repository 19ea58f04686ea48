#pragma once
// The palettes an idea's colour is picked from: a grid whose rows are colour themes and whose
// columns are their colours (ColorMatrix), and the view that draws it as round swatches, rings
// the selected colour and reports clicks (ColorMatrixView). The classic and the bright matrix
// are built once from the program's themes and shared. Main thread only.

#include "foundation/views/base_view.h"
#include "model/color.h"
#include "platform/ui/weak_ref.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

struct ColorMatrixItem {
  std::uint64_t row = 0;
  std::uint64_t col = 0;
  ColorPtr color;  // none for an empty cell
};

class ColorMatrix {
 public:
  ColorMatrix(std::uint64_t rows, std::uint64_t columns);
  // One row per theme, as many columns as the first theme has colours; shorter themes leave
  // their last cells empty.
  static std::shared_ptr<ColorMatrix> fromThemes(const std::vector<ColorThemePtr>& themes);
  static const std::shared_ptr<const ColorMatrix>& classicColorMatrix();
  static const std::shared_ptr<const ColorMatrix>& brightColorMatrix();

  std::uint64_t rows() const { return mRows; }
  std::uint64_t columns() const { return mColumns; }
  // Null past the grid.
  const ColorMatrixItem* itemAtRow(std::uint64_t row, std::uint64_t col) const;
  void setColor(ColorPtr color, std::uint64_t row, std::uint64_t col);
  // The first cell's colour (row by row) carrying that name, or none.
  ColorPtr colorWithName(const QString& name) const;

 private:
  std::uint64_t mColumns;
  std::uint64_t mRows;
  std::vector<ColorMatrixItem> mItems;  // row-major
};

class ColorMatrixViewDelegate : public virtual platform::Trackable {
 public:
  virtual void handleColorSelection(const ColorPtr& color) = 0;
};

class ColorMatrixView : public BaseView {
 public:
  static constexpr double kFirstYPos = 33;
  static constexpr double kSideMargin = 56;  // both sides together
  static constexpr double kFallbackPitch = 44;  // a one-column grid has no spacing to divide
  static constexpr double kRingDiameter = 30;
  static constexpr double kSwatchDiameter = 25;

  explicit ColorMatrixView(std::shared_ptr<const ColorMatrix> matrix);

  const std::shared_ptr<const ColorMatrix>& matrix() const { return mMatrix; }
  ColorMatrixViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ColorMatrixViewDelegate* delegate) { mDelegate.reset(delegate); }

  void setFrameSizeForWidth(double width);
  void selectColor(const ColorPtr& color);
  const ColorPtr& selectedColor() const { return mSelectedColor; }
  double centerToCenter() const { return mCenterToCenter; }
  // The centre of a swatch, as drawn.
  QPointF centerOf(std::uint64_t row, std::uint64_t col) const;

  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  void mouseDown(const platform::Event& event) override;
  // The cell under a point in view coordinates: equal divisions of the bounds. None for an
  // empty grid.
  const ColorMatrixItem* itemAtPoint(const QPointF& point) const;

 private:
  std::shared_ptr<const ColorMatrix> mMatrix;
  ColorPtr mSelectedColor;
  double mCenterToCenter = kFallbackPitch;
  double mFirstYPos = kFirstYPos;
  platform::WeakRef<ColorMatrixViewDelegate> mDelegate;
};

}  // namespace orrery
