#include "panels/edit_idea_view_controller.h"

#include "foundation/views/colored_view.h"
#include "model/idea.h"
#include "panels/refusal_alert.h"
#include "platform/ui/transaction.h"
#include "platform/ui/window.h"
#include "shell/text_undo.h"

#include <algorithm>

namespace orrery {

namespace {
QString nameOf(const ColorPtr& color) { return color ? color->name() : QString(); }
QString nameOf(const IconImagePtr& icon) { return icon ? icon->name() : QString(); }
}  // namespace

std::shared_ptr<EditIdeaViewController> EditIdeaViewController::createForPopover(
    const std::shared_ptr<platform::Popover>& popover) {
  auto controller = std::make_shared<EditIdeaViewController>(Private{}, popover);
  if (popover) {
    popover->setAnimates(true);
    // Placed with room for its tallest tab, the popover keeps its place when tabs switch.
    popover->setLargestContentSize(
        QSizeF(kWidth, EditViewTabBar::desiredHeight() +
                           std::max({ColorSelectionTabView::kPreferredHeight, IconImageTabView::kPreferredHeight,
                                     IdeaTextEditTabView::kExtendedHeight})));
    popover->setContentViewController(controller);
    popover->setDelegate(controller.get());
  }
  return controller;
}

EditIdeaViewController::EditIdeaViewController(Private, std::shared_ptr<platform::Popover> popover)
    : mPopover(std::move(popover)) {
  // The popover's window is no program window: the Edit menu's Undo and Redo for the title and
  // the note end here.
  platform::WeakRef<EditIdeaViewController> self(this);
  installTextUndoActions(*this, [self]() -> platform::Window* {
    EditIdeaViewController* me = self.get();
    return me && me->isViewLoaded() ? me->view()->window() : nullptr;
  });
}

bool EditIdeaViewController::validateUserInterfaceItem(const platform::MenuItem& item) {
  if (isTextUndoAction(item.action())) return canPerformTextUndo(isViewLoaded() ? view()->window() : nullptr, item.action());
  return platform::ViewController::validateUserInterfaceItem(item);
}

EditIdeaViewController::~EditIdeaViewController() = default;

bool EditIdeaViewController::textEquality(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return a.isEmpty() && b.isEmpty();
  return a == b;
}

bool EditIdeaViewController::didChangeColor() const {
  return !textEquality(nameOf(mSelectedColor), nameOf(mOriginalColor));
}

bool EditIdeaViewController::didChangeIcon() const {
  return !textEquality(nameOf(mSelectedIconImage), nameOf(mOriginalIconImage));
}

void EditIdeaViewController::storeChangesInto(Idea& idea) const {
  if (didChangeTitle()) idea.setText(mSelectedTitleText);
  if (didChangeNote()) idea.setNote(mSelectedNoteText);
  if (didChangeColor()) idea.setColor(mSelectedColor);
  if (didChangeColorThemeType()) idea.setColorThemeType(mSelectedColorThemeType);
  if (didChangeIcon()) idea.setIconImage(mSelectedIconImage);
}

bool EditIdeaViewController::didChange() const {
  return didChangeColorThemeType() || mDidRecolor || didChangeColor() || didChangeIcon() || didChangeNote() ||
         didChangeTitle();
}

void EditIdeaViewController::loadView() {
  auto root = std::make_shared<ColoredView>(QBrush(Qt::white), this);
  root->setFrame(QRectF(0, 360, kWidth, 360));
  mEditViewTabBar = std::make_shared<EditViewTabBar>();
  mEditViewTabBar->setDelegate(this);
  root->addSubview(mEditViewTabBar);
  setView(root);
}

void EditIdeaViewController::applyLayout() {
  if (!isViewLoaded()) return;
  const QRectF b = view()->bounds();
  const double barHeight = EditViewTabBar::desiredHeight();
  mEditViewTabBar->setFrame(QRectF(0, 0, b.width(), barHeight));
  if (BaseView* tab = tabViewAt(mCurrentTab))
    tab->setFrame(QRectF(0, barHeight, b.width(), std::max(0.0, b.height() - barHeight)));
}

void EditIdeaViewController::closeButtonPressed() {
  if (auto popover = mPopover.lock()) popover->performClose();
}

void EditIdeaViewController::popoverWillShow(platform::Popover& /*popover*/) {
  mDidRecolor = false;
  mOriginalTitleText = mSelectedTitleText;
  mOriginalNoteText = mSelectedNoteText;
  mOriginalColor = mSelectedColor;
  mOriginalColorThemeType = mSelectedColorThemeType;
  mOriginalIconImage = mSelectedIconImage;
  view();
  reloadTab(EditIdeaTabText, true);
  reloadTab(EditIdeaTabIcon, true);
  reloadTab(EditIdeaTabColor, true);
  if (BaseView* current = tabViewAt(mCurrentTab)) current->removeFromSuperview();
  mCurrentTab = -1;
  mEditViewTabBar->setCurrentSelection(EditIdeaTabText);
  // The text tab is chosen before the popover shows: a popover takes the keys only when its
  // content holds a field as it appears.
  editViewTabBarUserSelectedItem(*mEditViewTabBar, EditIdeaTabText);
}

void EditIdeaViewController::popoverDidShow(platform::Popover& /*popover*/) {
  if (EditIdeaViewSubordinate* current = subordinateAt(mCurrentTab)) current->activate();
}

void EditIdeaViewController::popoverDidClose(platform::Popover& /*popover*/) {
  reloadDataFromSubViews();
  if (EditIdeaViewControllerDelegate* d = delegate()) d->editIdeaViewDidClose();
}

QString EditIdeaViewController::refuse(IdeaEditRoom::Part part, const std::function<void(Idea&)>& change,
                                       bool recolor) {
  if (!mEditRoom || mEditRoom->holdRoomFor(part, change, recolor)) return {};
  return mEditRoom->refusal();
}

QString EditIdeaViewController::refuseTitle(const QString& text) {
  return refuse(IdeaEditRoom::Title, [&](Idea& idea) { idea.setText(text); });
}

QString EditIdeaViewController::refuseNote(const QString& text) {
  return refuse(IdeaEditRoom::Note, [&](Idea& idea) { idea.setNote(text); });
}

bool EditIdeaViewController::mayChooseColors(const ColorPtr& color, ColorThemeType type, bool recolor) {
  const QString why = refuse(
      IdeaEditRoom::Colors,
      [&](Idea& idea) {
        idea.setColor(color);
        idea.setColorThemeType(type);
      },
      recolor);
  if (!why.isEmpty()) tellRefusal(isViewLoaded() ? view().get() : nullptr, why);
  return why.isEmpty();
}

bool EditIdeaViewController::mayChooseIcon(const IconImagePtr& icon) {
  const QString why = refuse(IdeaEditRoom::Icon, [&](Idea& idea) { idea.setIconImage(icon); });
  if (!why.isEmpty()) tellRefusal(isViewLoaded() ? view().get() : nullptr, why);
  return why.isEmpty();
}

void EditIdeaViewController::pleaseUpdateIdeaTextEditTabViewHeight() {
  if (!mTextTabView) return;
  updateFrameWithHeight(EditViewTabBar::desiredHeight() + mTextTabView->currentPreferredHeight());
}

BaseView* EditIdeaViewController::tabViewAt(std::int64_t tab) const {
  switch (tab) {
    case EditIdeaTabText: return mTextTabView.get();
    case EditIdeaTabColor: return mColorTabView.get();
    case EditIdeaTabIcon: return mIconImageTabView.get();
    default: return nullptr;
  }
}

EditIdeaViewSubordinate* EditIdeaViewController::subordinateAt(std::int64_t tab) const {
  switch (tab) {
    case EditIdeaTabText: return mTextTabView.get();
    case EditIdeaTabColor: return mColorTabView.get();
    case EditIdeaTabIcon: return mIconImageTabView.get();
    default: return nullptr;
  }
}

double EditIdeaViewController::preferredHeightOf(std::int64_t tab) const {
  const EditIdeaViewSubordinate* subordinate = subordinateAt(tab);
  return subordinate ? subordinate->currentPreferredHeight() : 0;
}

void EditIdeaViewController::reloadTab(std::int64_t tab, bool isInitialLoad) {
  if (EditIdeaViewSubordinate* subordinate = subordinateAt(tab)) subordinate->reloadFrom(*this, isInitialLoad);
}

void EditIdeaViewController::editViewTabBarUserSelectedItem(EditViewTabBar& /*bar*/, std::int64_t item) {
  // The tab about to show sees what was typed or picked in the others.
  reloadDataFromSubViews();
  auto* root = static_cast<BaseView*>(view().get());
  root->beginLayout();
  const std::int64_t tab = item == EditIdeaTabColor || item == EditIdeaTabIcon ? item : EditIdeaTabText;
  const bool sameAsShown = tab == mCurrentTab && (tab != EditIdeaTabText || mCurrentTab >= 0);
  if (sameAsShown) {
    root->endLayout();
    return;
  }
  if (!tabViewAt(tab)) {
    if (tab == EditIdeaTabColor) {
      mColorTabView = std::make_shared<ColorSelectionTabView>();
      mColorTabView->setDelegate(this);
    } else if (tab == EditIdeaTabIcon) {
      mIconImageTabView = std::make_shared<IconImageTabView>();
      mIconImageTabView->setDelegate(this);
    } else {
      mTextTabView = std::make_shared<IdeaTextEditTabView>();
      mTextTabView->setDelegate(this);
    }
    reloadTab(tab, true);
  } else {
    reloadTab(tab, false);
  }
  updateFrameWithHeight(EditViewTabBar::desiredHeight() + preferredHeightOf(tab));

  if (BaseView* old = tabViewAt(mCurrentTab)) old->removeFromSuperview();
  mCurrentTab = tab;
  mEditViewTabBar->setCurrentSelection(tab);
  if (tab == EditIdeaTabColor) {
    root->addSubview(mColorTabView);
  } else if (tab == EditIdeaTabIcon) {
    root->addSubview(mIconImageTabView);
  } else {
    root->addSubview(mTextTabView);
  }
  root->forceDirtyLayout();
  root->endLayout();
  if (tab == EditIdeaTabColor) mColorTabView->activate();
  else if (tab == EditIdeaTabIcon) mIconImageTabView->activate();
  else if (!mTextTabView->isExtended()) mTextTabView->activate();
}

void EditIdeaViewController::reloadDataFromSubViews() {
  if (mTextTabView) {
    mSelectedTitleText = mTextTabView->selectedTitleText();
    mSelectedNoteText = mTextTabView->selectedNoteText().value_or(QString());
  }
  if (mColorTabView) {
    mSelectedColor = mColorTabView->selectedColor();
    mSelectedColorThemeType = mColorTabView->selectedColorThemeType();
    mDidRecolor = mColorTabView->didRecolor();
  }
  if (mIconImageTabView) mSelectedIconImage = mIconImageTabView->selectedIconImage();
}

void EditIdeaViewController::updateFrameWithHeight(double height) {
  mCurrentDesiredHeight = float(height);
  const std::shared_ptr<platform::View>& root = view();
  platform::withoutActions([&] {
    root->setFrame(QRectF(root->frame().topLeft(), QSizeF(kWidth, height)));
    if (auto popover = mPopover.lock()) popover->setContentSize(QSizeF(kWidth, height));
    if (auto* base = dynamic_cast<BaseView*>(root.get())) base->forceDirtyLayout();
  });
}

}  // namespace orrery
