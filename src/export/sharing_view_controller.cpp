#include "export/sharing_view_controller.h"

#include "foundation/globals.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/text_label.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <cmath>

namespace orrery {

TabItem::TabItem(const QImage& image, const QString& title, ShareType type) : mShareType(type) {
  setIsToggleButton(true);
  mWhite = std::make_shared<ColoredView>(QBrush(Qt::white));
  addView(mWhite, 0);
  mGrey = std::make_shared<ColoredView>(QBrush(Globals::colorGray91()));
  addView(mGrey, ButtonPart::kNormal);
  mIcon = std::make_shared<BaseImageView>(image);
  mIcon->setFrame(QRectF(QPointF(0, 0), image.isNull() ? QSizeF(0, 0) : QSizeF(image.deviceIndependentSize())));
  // The icon and the title keep their own sizes; applyLayout places them.
  const LayoutBlock keepSize = [](platform::View&, const QRectF&) {};
  addView(mIcon, 0, keepSize);
  mTitle = std::make_shared<TextLabel>();
  platform::TextAttributes attributes;
  attributes.font = kitFont(Globals::fontAvenirBook(20), 20);
  attributes.color = Globals::colorGray46();
  attributes.kern = -0.1;
  platform::ParagraphStyle paragraph;
  paragraph.lineSpacing = 0.01;
  paragraph.lineHeightMultiple = 1.0;
  attributes.paragraph = paragraph;
  mTitle->setAttributedText(platform::AttributedString(title, attributes));
  mTitle->sizeToFit();
  addView(mTitle, 0, keepSize);
}

void TabItem::applyLayout() {
  ButtonView::applyLayout();
  const QRectF b = bounds();
  mWhite->setFrame(b);
  // The leftmost tab keeps only its right white edge.
  mGrey->setFrame(mShareType == 0 ? QRectF(0, 0, b.width() - 1, b.height()) : b.adjusted(1, 0, -1, 0));
  QRectF icon = mIcon->frame();
  // A tab too narrow for its title shows the icon alone, centred.
  const bool wide = b.width() >= kTitleMinWidth;
  if (wide)
    icon.moveTopLeft(QPointF(10, b.height() / 2 - icon.height() / 2));
  else
    icon.moveCenter(b.center());
  mIcon->setFrame(icon);
  mTitle->setAlphaValue(wide ? 1 : 0);
  QRectF title = mTitle->frame();
  title.moveTopLeft(QPointF(icon.right() + 10, b.height() / 2 - title.height() / 2));
  mTitle->setFrame(title);
}

SharingViewController::SharingViewController(IdeaPtr idea, QDateTime lastModified)
    : mIdea(std::move(idea)), mLastModified(std::move(lastModified)) {
  setActionHandler(platform::Actions::cancelOperation, [this](const platform::ActionSender&) { handleDismissal(); });
}

void SharingViewController::loadView() {
  auto root = std::make_shared<ColoredView>(QBrush(Qt::white), this);
  root->setEatMouseEvents(true);
  root->setFrame(QRectF(0, 0, 1000, 370));
  mTopAreaView = std::make_shared<ColoredView>(QBrush(Globals::colorGray91()));
  root->addSubview(mTopAreaView);
  setView(root);
  mTabButtons.clear();
  mShareTypes.clear();
  addShareType(std::make_shared<OrreryShareTypeView>(this));
  addShareType(std::make_shared<PDFShareTypeView>(this));
  addShareType(std::make_shared<PresentationShareTypeView>(this));
  addShareType(std::make_shared<TextShareTypeView>(this));
  addShareType(std::make_shared<ImageShareTypeView>(this));
  addShareType(std::make_shared<WebShareTypeView>(this));
  addShareType(std::make_shared<OPMLShareTypeView>(this));
  selectShareType(1);
  applyLayout();
}

void SharingViewController::addShareType(const std::shared_ptr<ShareTypeView>& pane) {
  mShareTypes.push_back(pane);
  view()->addSubview(pane);
  auto tab = pane->createTabItem();
  tab->setDelegate(this);
  mTabButtons.push_back(tab);
  view()->addSubview(tab);
}

void SharingViewController::selectShareType(ShareType type) {
  view();
  mCurrentShareTypeIdx = kNotFound;
  for (std::size_t i = 0; i < mTabButtons.size(); ++i) {
    if (mTabButtons[i]->shareType() == type) {
      mCurrentShareTypeIdx = std::int64_t(i);
      break;
    }
  }
  for (std::size_t i = 0; i < mTabButtons.size(); ++i) {
    const bool shown = std::int64_t(i) == mCurrentShareTypeIdx;
    mTabButtons[i]->setToggled(shown);
    mShareTypes[i]->setHidden(!shown);
  }
}

void SharingViewController::buttonPressed(ButtonView& button) {
  if (auto* tab = dynamic_cast<TabItem*>(&button)) selectShareType(tab->shareType());
}

void SharingViewController::handleDismissal() {
  if (mDismissed) return;
  mDismissed = true;
  if (SharingViewControllerDelegate* d = delegate()) d->pleaseDismissSharingView(*this);
}

void SharingViewController::applyLayout() {
  if (mTabButtons.empty() || !isViewLoaded()) return;
  const QRectF b = view()->bounds();
  const QRectF band(b.left(), b.top(), b.width(), kBandHeight);
  const QRectF rest(b.left(), b.top() + kBandHeight, b.width(), std::max(0.0, b.height() - kBandHeight));
  mTopAreaView->setFrame(band);
  const double n = double(mTabButtons.size());
  const double w = band.width() < n * kTabWidth ? band.width() / n : kTabWidth;
  for (std::size_t i = 0; i < mTabButtons.size(); ++i) {
    mTabButtons[i]->setFrame(QRectF(double(i) * w, 0, w, kBandHeight));
    mTabButtons[i]->callApplyLayout();
  }
  for (const auto& pane : mShareTypes) {
    pane->setFrame(rest);
    pane->callApplyLayout();
  }
}

void SharingViewController::viewDidAppear() {
  if (platform::Window* window = viewWindow()) window->makeFirstResponder(this);
}

}  // namespace orrery
