#include "panels/edit_view_tab_bar.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/text_label.h"
#include "platform/services/localization.h"

#include <QPainter>

#include <cmath>

namespace orrery {

namespace {
constexpr std::uint64_t kNormalMask = 1;
constexpr std::uint64_t kActiveMask = 2;

QRectF snapped(const QRectF& r) {
  const double s = Globals::screenScale() > 0 ? Globals::screenScale() : 1;
  const double x = std::round(r.x() * s) / s;
  const double y = std::round(r.y() * s) / s;
  return QRectF(x, y, std::round(r.right() * s) / s - x, std::round(r.bottom() * s) / s - y);
}

std::shared_ptr<TextLabel> tabLabel(const QString& title, const QColor& colour) {
  auto label = std::make_shared<TextLabel>();
  label->setText(title.toUpper());
  label->setFontSize(12);
  label->setTextColor(colour);
  label->sizeToFit();
  return label;
}

void centre(platform::View& view, const QRectF& host) {
  const QSizeF size = view.frame().size();
  view.setFrame(snapped(QRectF(host.center().x() - size.width() / 2, host.center().y() - size.height() / 2,
                               size.width(), size.height())));
}

void fill(platform::View& view, const QRectF& host) { view.setFrame(host); }
}  // namespace

EditViewTabBar::EditViewTabBar() {
  setNeedsDisplay();
  addOption(EditIdeaTabText, platform::localizedString(QStringLiteral("IdeaEditorTab.Text"), QStringLiteral("IdeaEditorTab.Text")));
  addOption(EditIdeaTabColor, platform::localizedString(QStringLiteral("IdeaEditorTab.Color"), QStringLiteral("IdeaEditorTab.Color")));
  addOption(EditIdeaTabIcon, platform::localizedString(QStringLiteral("IdeaEditorTab.Icon"), QStringLiteral("IdeaEditorTab.Icon")));
  addDoneButton(3);
}

void EditViewTabBar::addOption(std::int64_t /*index*/, const QString& title) {
  auto button = std::make_shared<ButtonView>();
  button->setDelegate(this);
  button->addView(std::make_shared<ColoredView>(QBrush(Globals::colorGray91())), kNormalMask, fill);
  button->addView(tabLabel(title, Globals::colorGrayDarkText()), kNormalMask, centre);
  button->addView(std::make_shared<ColoredView>(QBrush(Globals::colorBrightGreen())), kActiveMask, fill);
  button->addView(tabLabel(title, Qt::white), kActiveMask, centre);
  mTabControls.push_back(button);
  addSubview(button);
  setCurrentSelection(mCurrentSelection);
}

std::shared_ptr<ButtonView> EditViewTabBar::addDoneButton(std::int64_t /*slot*/) {
  mDoneButton = std::make_shared<ButtonView>(imageext::deviceImageNamed(QStringLiteral("accept")),
                                             imageext::deviceImageNamed(QStringLiteral("accept_active")));
  mDoneButton->setDelegate(this);
  addSubview(mDoneButton);
  return mDoneButton;
}

void EditViewTabBar::setCurrentSelection(std::int64_t selection) {
  mCurrentSelection = selection;
  for (std::size_t i = 0; i < mTabControls.size(); ++i) {
    const bool on = std::int64_t(i) == selection;
    if (mTabControls[i]->toggled() != on) mTabControls[i]->setToggled(on);
  }
}

void EditViewTabBar::buttonPressed(ButtonView& button) {
  if (&button == mDoneButton.get()) {
    if (EditViewTabBarDelegate* d = delegate()) d->pleaseCloseEditView();
    return;
  }
  for (std::size_t i = 0; i < mTabControls.size(); ++i) {
    if (mTabControls[i].get() != &button) continue;
    setCurrentSelection(std::int64_t(i));
    if (EditViewTabBarDelegate* d = delegate()) d->editViewTabBarUserSelectedItem(*this, std::int64_t(i));
    return;
  }
}

void EditViewTabBar::applyLayout() {
  const double w = buttonWidth();
  for (std::size_t i = 0; i < mTabControls.size(); ++i)
    mTabControls[i]->setFrame(snapped(QRectF(double(i) * w, 0, w, kDesiredHeight)));
  if (mDoneButton) mDoneButton->setFrame(QRectF(3 * w, 12, w, 36));
}

void EditViewTabBar::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  painter.fillRect(dirtyRect, Globals::colorGray91());
}

}  // namespace orrery
