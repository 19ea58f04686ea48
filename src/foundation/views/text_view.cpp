#include "foundation/views/text_view.h"

#include "foundation/globals.h"
#include "foundation/views/kit_font.h"

#include <cmath>
#include <limits>

namespace orrery {

TextView::TextView() : mLineHeightMultiple(1.0) {}

void TextView::setText(const QString& text) {
  mText = text;
  update();
}

void TextView::update() {
  if (!mTextView) {
    mTextView = std::make_shared<platform::TextDocumentView>();
    addSubview(mTextView);
    mTextView->setDrawsBackground(false);
  }
  mTextView->setTextContainerInset(mInset);
  platform::ParagraphStyle style;
  style.lineSpacing = mLineSpacing;
  style.lineHeightMultiple = mLineHeightMultiple;
  style.firstLineHeadIndent = 0;
  style.alignment = mTextAlignment;
  platform::TextAttributes attributes;
  attributes.font = mFont ? *mFont : kitFont(Globals::fontAvenirBook(12), 12);
  attributes.color = mTextColor.value_or(QColor(Qt::black));
  attributes.paragraph = style;
  attributes.kern = static_cast<float>(mKern);
  mTextView->setAttributedString(platform::AttributedString(mText, attributes));
}

QSizeF TextView::intrinsicContentSize() {
  if (!mTextView) return QSizeF(0, 0);
  return mTextView->usedSize();
}

void TextView::sizeToFit() {
  setFrame(QRectF(frame().topLeft(), intrinsicContentSize()));
  setFrameSize(mTextView ? mTextView->frame().size() : QSizeF(0, 0));
}

void TextView::sizeToFitWidth(double width) {
  if (!mTextView) {
    setFrameSize(QSizeF(0, 0));  // nothing laid out yet
    return;
  }
  mTextView->setFrameSize(QSizeF(width, std::numeric_limits<float>::max()));
  const QSizeF used = mTextView->usedSize();
  // The inset lies on every side: without it the last lines would be cut off below.
  const float wanted = static_cast<float>(used.width() + 2 * mInset.width());
  const double w = std::isnan(width) ? wanted : std::min(wanted, static_cast<float>(width));
  mTextView->setFrameSize(QSizeF(w, used.height() + 2 * mInset.height()));
  setFrameSize(mTextView->frame().size());
}

void TextView::applyLayout() {
  if (mTextView) mTextView->setFrame(bounds());
}

}  // namespace orrery
