#include "panels/icon_image_tab_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/animation_group.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/deferred_step.h"
#include "model/icon_image_collection.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/services/localization.h"
#include "platform/ui/attributed_string.h"
#include "platform/ui/layer.h"

#include <algorithm>
#include <cmath>

namespace orrery {

namespace {
constexpr std::uint64_t kNormalMask = 1;
constexpr std::uint64_t kActiveMask = 2;
constexpr std::uint64_t kAlwaysMask = 0;
constexpr double kArrowSide = 26;
constexpr double kSampleSide = 32;
constexpr PlanetType kPreviewPlanet = 2;

double snap(double v) {
  const double s = Globals::screenScale() > 0 ? Globals::screenScale() : 1;
  return std::round(v * s) / s;
}

QRectF snapped(const QRectF& r) {
  const double x = snap(r.x());
  const double y = snap(r.y());
  return QRectF(x, y, snap(r.right()) - x, snap(r.bottom()) - y);
}

LayoutBlock atEdge(bool right) {
  return [right](platform::View& view, const QRectF& host) {
    const double x = right ? host.right() - kArrowSide : host.left();
    view.setFrame(snapped(QRectF(x, host.center().y() - kArrowSide / 2, kArrowSide, kArrowSide)));
  };
}

void addArrow(ButtonView& button, const char* image, bool right) {
  const QString name = QString::fromLatin1(image);
  button.addView(std::make_shared<BaseImageView>(imageext::deviceImageNamed(name)), kNormalMask, atEdge(right));
  button.addView(std::make_shared<BaseImageView>(imageext::deviceImageNamed(name + QStringLiteral("_active"))),
                 kActiveMask, atEdge(right));
}

std::shared_ptr<TextLabel> clearLabel(const QString& text) {
  auto label = std::make_shared<TextLabel>();
  label->setDrawsBackground(false);
  label->setText(text);
  label->sizeToFit();
  return label;
}

void centreVertically(platform::View& view, double left, double right, const QRectF& host) {
  const double h = view.frame().height();
  view.setFrame(QRectF(left, snap(host.center().y() - h / 2), std::max(0.0, right - left), h));
}

// Tells the list a cell was pressed, at the cell's centre in the list's coordinates.
void reportPress(platform::View& cell, const platform::WeakRef<platform::View>& owner) {
  auto* list = static_cast<IconCategoryTableView*>(owner.get());
  if (!list) return;
  list->rowPressedAtLocation(cell.convertPointToView(cell.bounds().center(), list));
}
}  // namespace

QBrush iconRowBackground() {
  static const QImage pattern = imageext::deviceImageNamed(QStringLiteral("row_background_pattern_ipad"));
  return pattern.isNull() ? QBrush(Qt::white) : QBrush(pattern);
}

// Category rows.

IconCategoryCell::IconCategoryCell(IconCategoryTableView* owner) : ColoredView(iconRowBackground()), mOwner(owner) {
  mButton = std::make_shared<ButtonView>();
  mButton->setDelegate(this);
  addArrow(*mButton, "arrow_right", true);
  addSubview(mButton);
  mCategoryNameLabel = clearLabel(QString());
  addSubview(mCategoryNameLabel);
}

void IconCategoryCell::configureForCategory(const QString& category, const std::vector<IconImagePtr>& icons) {
  for (const auto& view : mImageViews) view->removeFromSuperview();
  mImageViews.clear();
  const std::size_t count = std::min<std::size_t>(kMaxSamples, icons.size());
  for (std::size_t i = 0; i < count; ++i) {
    auto image = std::make_shared<BaseImageView>(icons[i] ? icons[i]->image() : QImage());
    mImageViews.push_back(image);
    addSubview(image);
  }
  const QString key = category.trimmed();
  mCategoryNameLabel->setText(platform::localizedString(key, key));
  mCategoryNameLabel->sizeToFit();
  forceDirtyLayout();
}

void IconCategoryCell::buttonPressed(ButtonView& /*button*/) { reportPress(*this, mOwner); }

void IconCategoryCell::applyLayout() {
  const QRectF b = bounds();
  mButton->setFrame(b);
  double right = b.right() - 24;
  for (auto it = mImageViews.rbegin(); it != mImageViews.rend(); ++it) {
    (*it)->setFrame(snapped(QRectF(right - kSampleSide, b.center().y() - kSampleSide / 2, kSampleSide, kSampleSide)));
    right -= kSampleSide;
  }
  centreVertically(*mCategoryNameLabel, 8, right, b);
}

RemoveIconCell::RemoveIconCell(IconCategoryTableView* owner) : ColoredView(iconRowBackground()), mOwner(owner) {
  mButton = std::make_shared<ButtonView>();
  mButton->setDelegate(this);
  addArrow(*mButton, "remove_icon", true);
  addSubview(mButton);
  platform::TextAttributes attributes;
  attributes.font = Globals::fontAvenirHeavy(11);
  attributes.color = Globals::colorGray58();
  attributes.kern = 1.3;
  mTextLabel = clearLabel(QString());
  mTextLabel->setAttributedText(platform::AttributedString(
      platform::localizedString(QStringLiteral("Choice.RemoveIcon"), QStringLiteral("Remove Icon")).toUpper(), attributes));
  mTextLabel->sizeToFit();
  addSubview(mTextLabel);
}

void RemoveIconCell::buttonPressed(ButtonView& /*button*/) { reportPress(*this, mOwner); }

void RemoveIconCell::applyLayout() {
  const QRectF b = bounds();
  mButton->setFrame(b);
  centreVertically(*mTextLabel, 8, b.right() - 8, b);
}

// The list.

IconCategoryTableView::IconCategoryTableView() {
  mScrollView = std::make_shared<BaseScrollView>();
  mScrollView->setHasVerticalScroller(true);
  mScrollView->setHasHorizontalScroller(false);
  mScrollView->setAutohidesScrollers(false);
  mTableView = std::make_shared<BaseView>();
  mTableView->layer()->setBackgroundColor(Globals::colorLightGray());
  mScrollView->setDocumentView(mTableView);
  addSubview(mScrollView);
}

std::int64_t IconCategoryTableView::categoryOffset() {
  IconCategoryTableViewDelegate* d = delegate();
  return d && d->canRemoveIconSelection() ? 1 : 0;
}

std::int64_t IconCategoryTableView::numberOfRows() {
  return categoryOffset() + IconImageCollection::instance().categories().size();
}

void IconCategoryTableView::reload() {
  for (const auto& row : mRows) row->removeFromSuperview();
  mRows.clear();
  const std::int64_t offset = categoryOffset();
  const QStringList& categories = IconImageCollection::instance().categories();
  if (offset > 0) mRows.push_back(std::make_shared<RemoveIconCell>(this));
  for (const QString& category : categories) {
    auto cell = std::make_shared<IconCategoryCell>(this);
    cell->configureForCategory(category, IconImageCollection::instance().iconImagesByCategory(category));
    mRows.push_back(cell);
  }
  for (const auto& row : mRows) mTableView->addSubview(row);
  layoutRows();
}

void IconCategoryTableView::rowPressedAtLocation(const QPointF& point) {
  const QPointF inTable = mTableView->convertPoint(point, this);
  if (inTable.y() < 0) return;
  const std::int64_t row = std::int64_t(inTable.y() / kRowHeight);
  const std::int64_t offset = mRows.empty() || !dynamic_cast<RemoveIconCell*>(mRows.front().get()) ? 0 : 1;
  IconCategoryTableViewDelegate* d = delegate();
  if (row < offset) {
    // The row leaves the list at once; only its picture fades before it goes.
    std::shared_ptr<BaseView> removed = mRows.front();
    mRows.erase(mRows.begin());
    layoutRows();
    AnimationGroup::run(
        kFadeSeconds, platform::TimingFunction(platform::TimingFunction::Name::Default),
        [removed](AnimationGroup& group) { group.setAlphaValue(*removed, 0); },
        [removed] { removed->removeFromSuperview(); });
    if (d) d->pleaseRemoveIconSelection();
    return;
  }
  const QStringList& categories = IconImageCollection::instance().categories();
  const std::int64_t index = row - offset;
  if (index >= 0 && index < categories.size() && d) d->categorySelected(categories[index]);
}

void IconCategoryTableView::layoutRows() {
  const double width = std::max(0.0, mScrollView->contentSize().width());
  for (std::size_t i = 0; i < mRows.size(); ++i) mRows[i]->setFrame(QRectF(0, double(i) * kRowHeight, width, kRowHeight));
  mTableView->setFrame(QRectF(0, 0, width, double(mRows.size()) * kRowHeight));
}

void IconCategoryTableView::applyLayout() {
  mScrollView->setFrame(bounds());
  layoutRows();
}

// The grid.

TitleRowView::TitleRowView(ButtonViewDelegate* delegate, const QString& category) : ColoredView(iconRowBackground()) {
  mButton = std::make_shared<ButtonView>();
  mButton->setDelegate(delegate);
  addArrow(*mButton, "arrow_left", false);
  addSubview(mButton);
  mCategoryNameLabel = clearLabel(category.trimmed());
  addSubview(mCategoryNameLabel);
}

void TitleRowView::applyLayout() {
  const QRectF b = bounds();
  mButton->setFrame(b);
  centreVertically(*mCategoryNameLabel, 32, b.right(), b);
}

IconSelectorView::IconSelectorView(const QString& category, const std::vector<IconImagePtr>& icons,
                                   IconSelectorViewDelegate* delegate)
    : mDelegate(delegate) {
  mScrollView = std::make_shared<BaseScrollView>();
  mScrollView->layer()->setBackgroundColor(Globals::colorGray93());
  mScrollView->setHasVerticalScroller(true);
  mScrollView->setHasHorizontalScroller(false);
  mScrollView->setAutohidesScrollers(false);
  mContentView = std::make_shared<BaseView>();
  mScrollView->setDocumentView(mContentView);
  addSubview(mScrollView);
  mTitleRow = std::make_shared<TitleRowView>(this, category);
  addSubview(mTitleRow);

  const IconImagePtr current = delegate ? delegate->currentIconSelection() : nullptr;
  for (const IconImagePtr& icon : icons) {
    if (!icon) continue;
    auto button = std::make_shared<ButtonView>();
    button->setIsToggleButton(true);
    button->setDelegate(this);
    button->setAssociatedObject(icon);
    button->addView(std::make_shared<ColoredView>(QBrush(Qt::white)), kActiveMask,
                    [](platform::View& v, const QRectF& host) { v.setFrame(host); });
    button->addView(std::make_shared<BaseImageView>(icon->image()), kAlwaysMask,
                    [](platform::View& v, const QRectF& host) {
                      v.setFrame(snapped(QRectF(host.center().x() - kSampleSide / 2,
                                                host.center().y() - kSampleSide / 2, kSampleSide, kSampleSide)));
                    });
    mIconButtons.push_back(button);
    mContentView->addSubview(button);
  }
  showSelection(current);
}

void IconSelectorView::showSelection(const IconImagePtr& current) {
  for (const auto& button : mIconButtons) {
    const auto icon = std::any_cast<IconImagePtr>(button->associatedObject());
    const bool on = current && current->name() == icon->name() && current->category() == icon->category();
    if (button->toggled() != on) button->setToggled(on);
  }
}

void IconSelectorView::buttonPressed(ButtonView& pressed) {
  if (&pressed == mTitleRow->button().get()) {
    if (IconSelectorViewDelegate* d = mDelegate.get()) d->pleaseDismissIconSelector();
    return;
  }
  IconImagePtr icon;
  for (const auto& button : mIconButtons) {
    const bool on = button.get() == &pressed;
    if (button->toggled() != on) button->setToggled(on);
    if (on) icon = std::any_cast<IconImagePtr>(button->associatedObject());
  }
  if (IconSelectorViewDelegate* d = mDelegate.get()) d->handleIconSelection(icon);
}

void IconSelectorView::applyLayout() {
  const QRectF b = bounds();
  mTitleRow->setFrame(QRectF(0, 0, b.width(), kTitleHeight));
  mScrollView->setFrame(QRectF(0, kTitleHeight, b.width(), std::max(0.0, b.height() - kTitleHeight)));
  const double width = b.width();
  const double step = (width - 30 - kButtonSide) / (kPerRow - 1);
  double bottom = 0;
  for (std::size_t i = 0; i < mIconButtons.size(); ++i) {
    const QRectF f = snapped(QRectF(double(i % kPerRow) * step + 15, double(i / kPerRow) * kRowStep + 20, kButtonSide, kButtonSide));
    mIconButtons[i]->setFrame(f);
    bottom = std::max(bottom, f.bottom());
  }
  mContentView->setFrame(QRectF(0, 0, width, bottom));
}

platform::View* IconSelectorView::hitTest(const QPointF& pointInSuperview) {
  if (isHidden() || !frame().contains(pointInSuperview)) return nullptr;
  if (platform::View* hit = BaseView::hitTest(pointInSuperview)) return hit;
  return this;
}

// The tab.

IconImageTabView::IconImageTabView() {
  mMainPlanetLayer = std::make_shared<PlanetLayer>(kPreviewPlanet);
  mMainPlanetLayer->setApproximateRendering(true);
  mMainPlanetLayer->setText(QStringLiteral("Example"));
  layer()->addSublayer(mMainPlanetLayer);
  mIconCategoryTableView = std::make_shared<IconCategoryTableView>();
  mIconCategoryTableView->setDelegate(this);
  addSubview(mIconCategoryTableView);
  mIconCategoryTableView->reload();
}

IconImageTabView::~IconImageTabView() = default;

void IconImageTabView::reloadFrom(const EditIdeaViewController& controller, bool /*isInitialLoad*/) {
  mMainPlanetLayer->setBaseColor(controller.selectedColor());
  mMainPlanetLayer->setText(controller.selectedTitleText());
  setSelectedIconImage(controller.selectedIconImage());
}

void IconImageTabView::activate() {
  mMainPlanetLayer->updateAppearance();
  mMainPlanetLayer->setNeedsDisplay();
}

void IconImageTabView::setSelectedIconImage(const IconImagePtr& icon) {
  mMainPlanetLayer->setIconImage(icon);
  mMainPlanetLayer->setNeedsDisplay();
  mIconCategoryTableView->reload();
}

void IconImageTabView::handleIconSelection(const IconImagePtr& icon) {
  if (IconImageTabViewDelegate* d = delegate(); d && !d->mayChooseIcon(icon)) {
    // The grid toggled the pressed icon already.
    if (mIconSelectorView) mIconSelectorView->showSelection(selectedIconImage());
    return;
  }
  setSelectedIconImage(icon);
  if (IconImageTabViewDelegate* d = delegate()) d->didMakeChanges();
}

void IconImageTabView::pleaseRemoveIconSelection() {
  mMainPlanetLayer->setIconImage(nullptr);
  mMainPlanetLayer->setNeedsDisplay();
  if (IconImageTabViewDelegate* d = delegate()) d->didMakeChanges();
}

void IconImageTabView::categorySelected(const QString& category) {
  const auto& icons = IconImageCollection::instance().iconImagesByCategory(category);
  if (mIconSelectorView) mIconSelectorView->removeFromSuperview();
  const QRectF list = mIconCategoryTableView->frame();
  mIconSelectorView = std::make_shared<IconSelectorView>(category, icons, this);
  mIconSelectorView->setFrame(QRectF(QPointF(list.right(), list.top()), list.size()));
  addSubview(mIconSelectorView);
  // The slide starts on the next turn, for this selector only if it is still the open one.
  std::weak_ptr<platform::View> weakSelector = mIconSelectorView;
  platform::WeakRef<platform::View> self(this);
  platform::mainQueue().async([self, weakSelector] {
    auto* tab = static_cast<IconImageTabView*>(self.get());
    auto selector = weakSelector.lock();
    if (!tab || !selector || selector != tab->mIconSelectorView || !tab->window()) return;
    const QRectF target(tab->mIconCategoryTableView->frame().topLeft(), selector->frame().size());
    AnimationGroup::run(
        kSlideSeconds, platform::TimingFunction(platform::TimingFunction::Name::Default),
        [&](AnimationGroup& group) { group.setFrame(*selector, target); },
        [self] {
          if (auto* t = static_cast<IconImageTabView*>(self.get())) t->forceDirtyLayout();
        });
  });
}

void IconImageTabView::pleaseDismissIconSelector() {
  if (!mIconSelectorView) return;
  const QRectF list = mIconCategoryTableView->frame();
  mIconSelectorView->setFrameOrigin(QPointF(list.right(), list.top()));
  mIconSelectorView->removeFromSuperview();
  mIconSelectorView.reset();
}

void IconImageTabView::applyLayout() {
  const QRectF b = bounds();
  mMainPlanetLayer->setPosition(QPointF(b.width() / 2, 73.5));
  mMainPlanetLayer->setNeedsDisplay();
  const QRectF list(0, kListTop, b.width(), std::max(0.0, b.height() - kListTop));
  mIconCategoryTableView->setFrame(list);
  // An open selector takes the list's place unless it is still sliding in.
  if (mIconSelectorView && mIconSelectorView->frame().topLeft() != QPointF(list.right(), list.top()))
    mIconSelectorView->setFrame(list);
}

}  // namespace orrery
