#include "home/idea_list_view.h"

#include "editor/planet_title.h"
#include "foundation/globals.h"
#include "foundation/views/view_extensions.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

namespace orrery {

namespace {

constexpr double kDropAreaInset = 30;

}  // namespace

QString IdeaListView::adderKey() { return QStringLiteral("\u0001-1"); }
QString IdeaListView::dockKey() { return QStringLiteral("\u0001-2"); }

IdeaListView::IdeaListView()
    : mHugeView(std::make_shared<BaseView>(QRectF())),
      mDockAreaView(std::make_shared<DockAreaView>()),
      mDeleteAreaView(std::make_shared<DeleteAreaView>()) {
  mLongTapAndDragDetector.setDelegate(this);
  addSubview(mDockAreaView);
  addSubview(mDeleteAreaView);
  setHasVerticalScroller(true);
  setHasHorizontalScroller(false);
  setAutohidesScrollers(true);
  setDocumentView(mHugeView);
  mAppearanceObserver.observe(GlobalsAppearanceSettingsChangedNotification, nullptr,
                              [this](const platform::Notification&) { appearanceSettingsChanged(); });
}

IdeaListView::~IdeaListView() = default;

// ---- geometry

std::int64_t IdeaListView::itemsPerRow(double width) {
  return static_cast<std::int64_t>(std::max((width - 2 * kLeftMargin) / kColWidth, 1.0));
}

std::int64_t IdeaListView::countSlots() const {
  return static_cast<std::int64_t>(mIdeaProxies.size()) + (mReadOnly ? 0 : 1);
}

double IdeaListView::contentHeightForWidth(double width) const {
  const std::int64_t rows = std::max<std::int64_t>((countSlots() - 1) / itemsPerRow(width) + 1, 1);
  return 2 * kLeftMargin + kRowHeight * static_cast<double>(rows);
}

std::int64_t IdeaListView::interpretedIndexFromVisualSlot(std::int64_t slot) const {
  if (!mReadOnly && slot == 0) return kAdderSlot;
  const std::int64_t index = mReadOnly ? slot : slot - 1;
  return index >= static_cast<std::int64_t>(mIdeaProxies.size()) ? kDockSlot : index;
}

std::int64_t IdeaListView::slotForElement(std::int64_t index) const { return mReadOnly ? index : index + 1; }

QPointF IdeaListView::slotCentre(std::int64_t slot, bool xAdjusted, bool yAdjusted) const {
  const float col = static_cast<float>(colFromSlot(slot));
  const float row = static_cast<float>(rowFromSlot(slot));
  const float half = kColWidth / 2;
  const float x = kColWidth * (xAdjusted ? col - 0.5f : col) + static_cast<float>(kLeftMargin) + half;
  const float y = static_cast<float>(kLeftMargin) + half + kRowHeight * (yAdjusted ? row - 0.25f : row) - 10.0f;
  return QPointF(std::trunc(x), std::trunc(y));
}

void IdeaListView::calculateFirstNeededSlot(std::int64_t* first, std::int64_t* last) const {
  const QRectF visible = documentVisibleRect();
  const auto firstRow = static_cast<std::int64_t>(visible.y() / kRowHeight);
  const auto lastRow = static_cast<std::int64_t>((visible.y() + visible.height()) / kRowHeight);
  const std::int64_t dock = mDockingMode ? 1 : 0;
  const std::int64_t perRow = itemsPerRow();
  *first = std::max<std::int64_t>(perRow * firstRow, 0);
  *last = std::min(countSlots() + dock - 1, perRow * (lastRow + 1) + dock);
}

// ---- list operations

void IdeaListView::appendProxy(IdeaProxyPtr proxy, bool silently) {
  if (!proxy) return;
  mIdeaProxies.push_back(std::move(proxy));
  if (!silently) updateView();
}

void IdeaListView::prependProxySilently(IdeaProxyPtr proxy) {
  if (proxy) mIdeaProxies.insert(mIdeaProxies.begin(), std::move(proxy));
}

void IdeaListView::insertProxy(IdeaProxyPtr proxy, std::uint64_t index) {
  if (!proxy) return;
  index = std::min<std::uint64_t>(index, mIdeaProxies.size());
  mIdeaProxies.insert(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(index), proxy);
  const QString key = proxy->docIdentifier();
  if (!mVisibleItemsByKey.count(key)) {
    auto item = createItemForProxy(proxy);
    updateItemPosition(*item, slotForElement(static_cast<std::int64_t>(index)), false, false);
    mVisibleItemsByKey[key] = item;
    // Below every other view, so that it never hides a tile it slides under.
    item->removeFromSuperview();
    mHugeView->insertSubviewBelow(item, mHugeView->subviews().empty() ? nullptr : mHugeView->subviews().front().get());
  }
  endDockingModeForListChange();
  updateView();
}

void IdeaListView::updateProxy(const IdeaProxyPtr& proxy) {
  if (!proxy) return;
  const std::int64_t index = indexOfProxy(proxy->docIdentifier());
  if (index < 0) return;
  mIdeaProxies[static_cast<std::size_t>(index)] = proxy;
  auto it = mVisibleItemsByKey.find(proxy->docIdentifier());
  if (it == mVisibleItemsByKey.end()) return;
  if (auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(it->second.get())) item->setIdeaProxy(proxy);
  updateView();
}

void IdeaListView::removeProxyWithDocIdentifer(const QString& docIdentifier) {
  const std::int64_t index = indexOfProxy(docIdentifier);
  if (index >= 0) removeProxyAtIndex(static_cast<std::uint64_t>(index));
}

void IdeaListView::removeProxyAtIndex(std::uint64_t index) {
  if (index >= mIdeaProxies.size()) return;
  mIdeaProxies.erase(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(index));
  endDockingModeForListChange();
  addAnyMissingItems();
  updateItemPositionsAndRemoveLeftOvers();
  ensurePlaceHolderView();
}

void IdeaListView::moveProxyAtIndex(std::uint64_t from, std::uint64_t to) {
  if (from >= mIdeaProxies.size() || to > mIdeaProxies.size()) return;
  IdeaProxyPtr proxy = mIdeaProxies[from];
  mIdeaProxies.erase(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(from));
  const std::uint64_t target = from < to ? to - 1 : to;
  mIdeaProxies.insert(mIdeaProxies.begin() + static_cast<std::ptrdiff_t>(target), std::move(proxy));
  endDockingModeForListChange();
  addAnyMissingItems();
  updateItemPositionsAndRemoveLeftOvers();
}

void IdeaListView::removeAllContent() {
  mIdeaProxies.clear();
  reloadView();
}

std::int64_t IdeaListView::indexOfProxy(const QString& docIdentifier) const {
  for (std::size_t i = 0; i < mIdeaProxies.size(); ++i)
    if (IdeaProxy::stringEquality(mIdeaProxies[i]->docIdentifier(), docIdentifier)) return static_cast<std::int64_t>(i);
  return -1;
}

IdeaProxyPtr IdeaListView::findProxy(const QString& docIdentifier) const {
  const std::int64_t index = indexOfProxy(docIdentifier);
  return index < 0 ? nullptr : mIdeaProxies[static_cast<std::size_t>(index)];
}

IdeaViewForIPadListItem* IdeaListView::visibleIdeaViewForDocument(const QString& docIdentifier) const {
  auto it = mVisibleItemsByKey.find(docIdentifier);
  if (it == mVisibleItemsByKey.end()) return nullptr;
  auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(it->second.get());
  return item ? &item->ideaView() : nullptr;
}

platform::View* IdeaListView::visibleItemForKey(const QString& key) const {
  auto it = mVisibleItemsByKey.find(key);
  return it == mVisibleItemsByKey.end() ? nullptr : it->second.get();
}

std::size_t IdeaListView::pooledItemCount() const {
  std::size_t n = 0;
  for (const auto& [name, pool] : mReusableItemViewsByType) n += pool.size();
  return n;
}

void IdeaListView::setReadOnlyMode(bool readOnly) {
  if (readOnly == mReadOnly) return;
  mReadOnly = readOnly;
  updateView();
}

void IdeaListView::endDockingModeForListChange() {
  if (mDockingMode) doToggleDockMode();
}

void IdeaListView::doToggleDockMode() {
  mDockingMode = !mDockingMode;
  mIdeaAdderAtFocus = kNotFound;
  mIdeaViewAtFocus = kNotFound;
  mFocusStrength = 0;
  mViewAtFocus = nullptr;
}

// ---- layout pass

void IdeaListView::layout() {
  BaseScrollView::layout();
  updateView();
}

void IdeaListView::reflectScrolledClipView() {
  BaseScrollView::reflectScrolledClipView();
  if (documentView()) updateView();
}

void IdeaListView::updateView() {
  if (mInLayoutPass) return;
  mInLayoutPass = true;
  double w = contentWidth();
  mHugeView->setFrame(QRectF(0, 0, w, contentHeightForWidth(w)));
  tile();  // the scroller and the scroll offset follow the new height
  if (contentWidth() != w) {
    w = contentWidth();
    mHugeView->setFrame(QRectF(0, 0, w, contentHeightForWidth(w)));
    tile();
  }
  viewext::setCenter(*mDockAreaView, QPointF(w - kDropAreaInset, kDropAreaInset));
  viewext::ensureIntegralFrame(*mDockAreaView);
  viewext::setCenter(*mDeleteAreaView, QPointF(w - kDropAreaInset, bounds().height() - kDropAreaInset));
  viewext::ensureIntegralFrame(*mDeleteAreaView);
  addAnyMissingItems();
  updateItemPositionsAndRemoveLeftOvers();
  ensurePlaceHolderView();
  mInLayoutPass = false;
}

void IdeaListView::reloadView() {
  std::vector<QString> keys;
  for (const auto& [key, view] : mVisibleItemsByKey) keys.push_back(key);
  for (const QString& key : keys) removeAndMakeReusableBasedOnKey(key);
  updateView();
}

void IdeaListView::addAnyMissingItems() {
  std::int64_t first = 0, last = -1;
  calculateFirstNeededSlot(&first, &last);
  for (std::int64_t slot = first; slot <= last; ++slot) addSlotIfMissing(slot);
}

bool IdeaListView::addSlotIfMissing(std::int64_t slot) {
  const std::int64_t index = interpretedIndexFromVisualSlot(slot);
  if (index == kDockSlot) {
    if (!mDockingMode || mVisibleItemsByKey.count(dockKey())) return false;
    auto marker = dequeueReusableItemForClass<SmallDockView>();
    const bool col0 = colFromSlot(slot) == 0;
    updateItemPosition(*marker, slot, !col0, col0);
    mVisibleItemsByKey[dockKey()] = marker;
    return true;
  }
  if (index == kAdderSlot) {
    if (mVisibleItemsByKey.count(adderKey())) return false;
    auto adder = dequeueReusableItemForClass<BigAdderView>();
    adder->setDelegate(this);
    adder->setUserInteractionEnabled(mUserInteractionEnabled);
    updateItemPosition(*adder, slot, false, false);
    mVisibleItemsByKey[adderKey()] = adder;
    return true;
  }
  const IdeaProxyPtr& proxy = mIdeaProxies[static_cast<std::size_t>(index)];
  if (mVisibleItemsByKey.count(proxy->docIdentifier())) return false;
  auto item = createItemForProxy(proxy);
  updateItemPosition(*item, slot, false, false);
  mVisibleItemsByKey[proxy->docIdentifier()] = item;
  return true;
}

std::shared_ptr<NormalIdeaListItemForIPad> IdeaListView::createItemForProxy(const IdeaProxyPtr& proxy) {
  auto item = dequeueReusableItemForClass<NormalIdeaListItemForIPad>();
  item->setIdeaProxy(proxy);
  IdeaListViewDelegate* delegate = mDelegate.get();
  item->ideaView().setShadowMode(delegate && delegate->hasShadowModeForDocument(proxy->docIdentifier()));
  item->setDockingMode(mDockingMode);
  return item;
}

template <class T>
std::shared_ptr<T> IdeaListView::dequeueReusableItemForClass() {
  std::shared_ptr<T> view;
  auto& pool = mReusableItemViewsByType[typeid(T).name()];
  if (!pool.empty()) {
    view = std::static_pointer_cast<T>(pool.front());
    pool.erase(pool.begin());
  } else {
    view = std::make_shared<T>();
    if constexpr (std::is_base_of_v<BaseView, T>) view->setDisableAnimations(true);
  }
  mHugeView->addSubview(view);
  return view;
}

void IdeaListView::removeAndMakeReusableBasedOnKey(const QString& key) {
  auto it = mVisibleItemsByKey.find(key);
  if (it == mVisibleItemsByKey.end()) return;
  std::shared_ptr<platform::View> view = std::move(it->second);
  mVisibleItemsByKey.erase(it);
  view->removeFromSuperview();
  platform::View& v = *view;
  mReusableItemViewsByType[typeid(v).name()].push_back(std::move(view));
}

void IdeaListView::updateItemPosition(platform::View& view, std::int64_t slot, bool xAdjusted, bool yAdjusted) {
  viewext::setCenter(view, slotCentre(slot, xAdjusted, yAdjusted));
}

std::int64_t IdeaListView::slotOfKey(const QString& key) const {
  if (key == adderKey()) return mReadOnly ? -1 : 0;
  if (key == dockKey()) return countSlots();
  const std::int64_t index = indexOfProxy(key);
  return index < 0 ? -1 : slotForElement(index);
}

void IdeaListView::updateItemPositionsAndRemoveLeftOvers() {
  std::int64_t first = 0, last = -1;
  calculateFirstNeededSlot(&first, &last);
  IdeaListViewDelegate* delegate = mDelegate.get();
  std::vector<QString> leftOvers;
  for (auto& [key, view] : mVisibleItemsByKey) {
    const std::int64_t slot = slotOfKey(key);
    const bool isDock = key == dockKey();
    if (slot < first || slot > last || (isDock && !mDockingMode)) {
      leftOvers.push_back(key);
      continue;
    }
    const std::int64_t index = interpretedIndexFromVisualSlot(slot);
    if (isDock) {
      auto* marker = static_cast<SmallDockView*>(view.get());
      const bool col0 = colFromSlot(slot) == 0;
      updateItemPosition(*marker, slot, !col0, col0);
      marker->setHighlighted(mIdeaAdderAtFocus == mIdeaProxies.size());
    } else if (index == kAdderSlot) {
      auto* adder = static_cast<BigAdderView*>(view.get());
      updateItemPosition(*adder, slot, false, false);
      adder->setDockMode(mDockingMode);
      adder->adderLayer().setNeedsDisplay();
    } else {
      auto* item = static_cast<NormalIdeaListItemForIPad*>(view.get());
      const auto i = static_cast<std::uint64_t>(index);
      item->smallDock().setHighlighted(mIdeaAdderAtFocus == i);
      item->ideaView().setShadowMode(delegate && delegate->hasShadowModeForDocument(key));
      item->updateDockingMode(mDockingMode, mIdeaViewAtFocus == i ? mFocusStrength : 0.0f);
      updateItemPosition(*item, slot, false, false);
    }
  }
  for (const QString& key : leftOvers) removeAndMakeReusableBasedOnKey(key);
}

void IdeaListView::ensurePlaceHolderView() {
  if (mIdeaProxies.empty() && mReadOnly) {
    if (!mPlaceHolderView) {
      mPlaceHolderView = std::make_shared<TextLabel>(QRectF(0, 0, 400, 400));
      mPlaceHolderView->setText(Globals::normalLocalizedStringForKey(QStringLiteral("Search:NoMatches"), QString()));
      mPlaceHolderView->setFont(PlanetTitle::titleFont(16));
      mPlaceHolderView->sizeToFit();
      mPlaceHolderView->setTextColor(Qt::gray);
      mPlaceHolderView->setDrawsBackground(false);
      mHugeView->addSubview(mPlaceHolderView);
    }
    viewext::setMiddleTopPosition(*mPlaceHolderView, QPointF(bounds().width() / 2, 10));
    viewext::ensureIntegralFrame(*mPlaceHolderView);
  } else if (mPlaceHolderView) {
    mPlaceHolderView->removeFromSuperview();
    mPlaceHolderView = nullptr;
  }
}

void IdeaListView::appearanceSettingsChanged() {
  for (auto& [key, view] : mVisibleItemsByKey)
    if (auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(view.get())) item->ideaView().updateAppearance();
}

void IdeaListView::pleaseCreateNewIdea() {
  if (auto* delegate = mDelegate.get()) delegate->pleaseCreateNewIdea();
}

void IdeaListView::setUserInteractionEnabled(bool enabled) {
  mUserInteractionEnabled = enabled;
  for (auto& [key, view] : mVisibleItemsByKey)
    if (auto* adopter = dynamic_cast<UserInteractionProtocol*>(view.get())) adopter->setUserInteractionEnabled(enabled);
}

}  // namespace orrery
