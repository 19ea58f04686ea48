#include "panels/edit_idea_view_controller.h"

#include "foundation/views/colored_view.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"

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
    popover->setContentViewController(controller);
    popover->setDelegate(controller.get());
  }
  return controller;
}

EditIdeaViewController::EditIdeaViewController(Private, std::shared_ptr<platform::Popover> popover)
    : mPopover(std::move(popover)) {}

EditIdeaViewController::~EditIdeaViewController() = default;

bool EditIdeaViewController::textEquality(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return a.isEmpty() && b.isEmpty();
  return a == b;
}

bool EditIdeaViewController::didChange() const {
  if (mSelectedColorThemeType != mOriginalColorThemeType) return true;
  if (mDidRecolor) return true;
  if (!textEquality(nameOf(mSelectedColor), nameOf(mOriginalColor))) return true;
  if (!textEquality(nameOf(mSelectedIconImage), nameOf(mOriginalIconImage))) return true;
  if (!textEquality(mSelectedNoteText, mOriginalNoteText)) return true;
  return !textEquality(mSelectedTitleText, mOriginalTitleText);
}

void EditIdeaViewController::loadView() {
  auto root = std::make_shared<ColoredView>(QBrush(Qt::white), this);
  root->setFrame(QRectF(0, 0, kWidth, IdeaTextEditTabView::kCompactHeight));
  mTextTabView = std::make_shared<IdeaTextEditTabView>();
  mTextTabView->setDelegate(this);
  root->addSubview(mTextTabView);
  setView(root);
}

void EditIdeaViewController::applyLayout() {
  if (mTextTabView && isViewLoaded()) mTextTabView->setFrame(view()->bounds());
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
  mTextTabView->reloadFrom(mSelectedTitleText, mSelectedNoteText);
  updateFrameWithHeight(mTextTabView->currentPreferredHeight());
}

void EditIdeaViewController::popoverDidShow(platform::Popover& /*popover*/) {
  if (mTextTabView) mTextTabView->activate();
}

void EditIdeaViewController::popoverDidClose(platform::Popover& /*popover*/) {
  reloadDataFromSubViews();
  if (EditIdeaViewControllerDelegate* d = delegate()) d->editIdeaViewDidClose();
}

void EditIdeaViewController::pleaseUpdateIdeaTextEditTabViewHeight() {
  if (!mTextTabView) return;
  updateFrameWithHeight(mTextTabView->currentPreferredHeight());
  // The shown popover takes its new size where it stands.
  auto popover = mPopover.lock();
  if (popover && popover->isShown() && popover->positioningView()) {
    popover->showRelativeToRect(popover->positioningRect(), popover->positioningView(), platform::RectEdge::MaxY);
    if (platform::Window* window = popover->window(); window && mTextTabView->isExtended())
      window->makeFirstResponder(mTextTabView->noteHost());
  }
}

void EditIdeaViewController::reloadDataFromSubViews() {
  if (!mTextTabView) return;
  mSelectedTitleText = mTextTabView->selectedTitleText();
  mSelectedNoteText = mTextTabView->selectedNoteText().value_or(QString());
}

void EditIdeaViewController::updateFrameWithHeight(double height) {
  const std::shared_ptr<platform::View>& root = view();
  root->setFrame(QRectF(root->frame().topLeft(), QSizeF(kWidth, height)));
  if (auto popover = mPopover.lock()) popover->setContentSize(QSizeF(kWidth, height));
  if (auto* base = dynamic_cast<BaseView*>(root.get())) base->forceDirtyLayout();
}

}  // namespace orrery
