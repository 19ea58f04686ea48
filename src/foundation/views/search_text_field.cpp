#include "foundation/views/search_text_field.h"

#include "foundation/globals.h"
#include "platform/ui/window.h"

#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace orrery {

// Geometry and drawing.

QRectF MyCell::searchTextRectForBounds(const QRectF& b) const {
  return QRectF(b.x() + 28, b.y() + 3, b.width() - 58, b.height() - 6);
}

QRectF MyCell::searchButtonRectForBounds(const QRectF& b) const { return QRectF(b.x() + 4, b.y(), 16, b.height()); }

QRectF MyCell::cancelButtonRectForBounds(const QRectF& b) const {
  return QRectF(b.width() - 20, b.y(), 16, b.height());
}

void MyCell::drawWithFrame(QPainter& painter, const QRectF& frame, const platform::View* view) const {
  if (!mControlView || view != mControlView) return;
  QPainterPath outline;
  outline.addRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 11, 11);
  const bool empty = mControlView->stringValue().isEmpty();

  painter.save();
  painter.setClipPath(outline);
  painter.fillRect(frame, Qt::white);
  const QColor glyph = Globals::colorGray58();
  const QRectF search = searchButtonRectForBounds(frame);
  const QPointF c(search.x() + 7, search.center().y() - 1);
  painter.setPen(QPen(glyph, 1.5));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(c, 4.5, 4.5);
  painter.drawLine(c + QPointF(3.3, 3.3), c + QPointF(7, 7));
  if (!empty) {
    const QRectF cancel = cancelButtonRectForBounds(frame);
    const QPointF x = cancel.center();
    painter.setPen(Qt::NoPen);
    painter.setBrush(glyph);
    painter.drawEllipse(x, 6.5, 6.5);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawLine(x + QPointF(-2.5, -2.5), x + QPointF(2.5, 2.5));
    painter.drawLine(x + QPointF(-2.5, 2.5), x + QPointF(2.5, -2.5));
  }
  painter.restore();

  if (!bezeled) return;
  if (!mControlView->showsFirstResponder() && empty)
    painter.strokePath(outline, QPen(Qt::white, 2));
  else
    painter.strokePath(outline, QPen(style == 1 ? Globals::colorGray23() : Globals::colorGray58(), 1));
}

// The field.

SearchTextField::SearchTextField(std::uint64_t style) : BaseView(QRectF(0, 0, 326, 22)) {
  mCell.style = style;
  mCell.mControlView = this;
  mHost = std::make_shared<HostedLineEdit>();
  QLineEdit* edit = mHost->lineEdit();
  edit->setAttribute(Qt::WA_TranslucentBackground);
  edit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
  platform::WeakRef<SearchTextField> self(this);
  QObject::connect(edit, &QLineEdit::textChanged, edit, [self] {
    if (SearchTextField* f = self.get()) f->setNeedsDisplay();
  });
  mHost->onFocusChange = [self] {
    if (SearchTextField* f = self.get()) f->setNeedsDisplay();
  };
  CustomTextField::installReducedMenu(*mHost, [self](const platform::Menu& offered) {
    SearchTextField* f = self.get();
    return f ? f->textViewMenu(offered) : nullptr;
  });
  addSubview(mHost);
  applyLayout();
}

QString SearchTextField::stringValue() const { return lineEdit() ? lineEdit()->text() : QString(); }

void SearchTextField::setStringValue(const QString& text) {
  if (lineEdit()) lineEdit()->setText(text);
}

bool SearchTextField::showsFirstResponder() const {
  platform::Window* w = window();
  return w && w->firstResponder() == mHost.get();
}

std::shared_ptr<platform::Menu> SearchTextField::textViewMenu(const platform::Menu& offered) const {
  return CustomTextField::createTextFieldMenuFrom(offered);
}

void SearchTextField::applyLayout() { mHost->setFrame(mCell.searchTextRectForBounds(bounds())); }

void SearchTextField::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  BaseView::drawRect(painter, dirtyRect);
  mCell.drawWithFrame(painter, bounds(), this);
}

void SearchTextField::mouseDown(const platform::Event& event) {
  const QPointF p = convertPoint(event.locationInWindow, nullptr);
  if (!stringValue().isEmpty() && mCell.cancelButtonRectForBounds(bounds()).contains(p)) {
    // Cleared as a user edit (textEdited, undoable), so whoever filters on typed text sees it.
    QLineEdit* edit = lineEdit();
    edit->selectAll();
    edit->del();
  }
  if (platform::Window* w = window()) w->makeFirstResponder(mHost.get());
}

}  // namespace orrery
