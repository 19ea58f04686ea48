#pragma once
// The search field of the top bar and the web-link panel: a rounded field with a drawn
// search glyph and clear button around a hosted QLineEdit. MyCell holds the geometry and the
// outline rules: an empty field without keyboard focus gets a 2-point white outline, any
// other a 1-point grey one (dark in style 1). Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/custom_text_field.h"

#include <cstdint>

namespace orrery {

class MyCell {
 public:
  // 1: the dark outline; any other value: the light one.
  std::uint64_t style = 0;
  bool bezeled = true;

  QRectF searchTextRectForBounds(const QRectF& bounds) const;
  QRectF searchButtonRectForBounds(const QRectF& bounds) const;
  // Measured from the bounds' width, not from their right edge.
  QRectF cancelButtonRectForBounds(const QRectF& bounds) const;
  // Draws the field's background, glyph, clear button and outline into `frame` when `view`
  // is the cell's own control.
  void drawWithFrame(QPainter& painter, const QRectF& frame, const platform::View* view) const;

 private:
  friend class SearchTextField;
  const class SearchTextField* mControlView = nullptr;
};

class SearchTextField : public BaseView {
 public:
  // 326 x 22 points.
  explicit SearchTextField(std::uint64_t style);

  MyCell& cell() { return mCell; }
  const MyCell& cell() const { return mCell; }
  // The hosted line edit (placeholder, font and signals are set there).
  QLineEdit* lineEdit() const { return mHost->lineEdit(); }
  const std::shared_ptr<HostedLineEdit>& hostedField() const { return mHost; }
  QString stringValue() const;
  void setStringValue(const QString& text);
  // Whether the field shows the first-responder (keyboard focus) state.
  bool showsFirstResponder() const;

  std::shared_ptr<platform::Menu> textViewMenu(const platform::Menu& offered) const;

  void applyLayout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  // A click on the clear button empties the field as a user edit would (listeners of typed
  // changes hear it); a click elsewhere focuses it.
  void mouseDown(const platform::Event& event) override;

 private:
  MyCell mCell;
  std::shared_ptr<HostedLineEdit> mHost;
};

}  // namespace orrery
