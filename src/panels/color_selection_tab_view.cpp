#include "panels/color_selection_tab_view.h"

#include "foundation/globals.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/core/dispatch.h"
#include "platform/services/localization.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace orrery {

namespace {
constexpr PlanetType kPreviewPlanet = 2;
constexpr PlanetType kSmallPlanet = 3;

QString upper(const char* key, const char* defaultText) {
  return platform::localizedString(QString::fromLatin1(key), QString::fromLatin1(defaultText)).toUpper();
}
}  // namespace

ColorSelectionTabView::ColorSelectionTabView() {
  mChildThemeSelector = std::make_shared<HorizontalSelector>();
  mChildThemeSelector->setDelegate(this);
  addSubview(mChildThemeSelector);
  mColorSelector = std::make_shared<ColorMatrixView>(ColorMatrix::classicColorMatrix());
  mColorSelector->setDelegate(this);
  addSubview(mColorSelector);
  mOwnThemeSelector = std::make_shared<HorizontalSelector>();
  mOwnThemeSelector->setDelegate(this);
  addSubview(mOwnThemeSelector);

  mSubPlanetLayer = std::make_shared<platform::Layer>();
  mSubPlanetLayer->setContentsScale(Globals::screenScale());
  mSubPlanetLayer->setBackgroundColor(Qt::white);
  for (auto& child : mChildPlanetLayers) {
    child = std::make_shared<PlanetLayer>(kSmallPlanet);
    child->setApproximateRendering(true);
    mSubPlanetLayer->addSublayer(child);
  }
  layer()->addSublayer(mSubPlanetLayer);

  mMainPlanetLayer = std::make_shared<PlanetLayer>(kPreviewPlanet);
  mMainPlanetLayer->setApproximateRendering(true);
  mMainPlanetLayer->setText(QStringLiteral("Example"));
  layer()->addSublayer(mMainPlanetLayer);
  setDidRecolor(false);
}

ColorSelectionTabView::~ColorSelectionTabView() = default;

void ColorSelectionTabView::reloadFrom(const EditIdeaViewController& controller, bool isInitialLoad) {
  if (isInitialLoad) {
    mUserHasClickedOnChildThemeDefinition = false;
    mOriginalColorThemeType = controller.selectedColorThemeType();
  }
  mMainPlanetLayer->setText(controller.selectedTitleText());
  setSelectedColor(controller.selectedColor());
  setDidRecolor(controller.didRecolor());
  ensureOwnThemeSelectorContents();
  ensureChildThemeSelectorContents();
  setSelectedColorThemeType(controller.selectedColorThemeType());
  mColorSelector->selectColor(controller.selectedColor());
}

void ColorSelectionTabView::activate() {
  mMainPlanetLayer->updateAppearance();
  mMainPlanetLayer->setNeedsDisplay();
}

void ColorSelectionTabView::ensureOwnThemeSelectorContents() {
  mOwnThemeSelector->reset();
  mOwnThemeSelector->addElement(upper("ColorPalette.OrreryClassics", "Orrery Classics"));
  mOwnThemeSelector->addElement(upper("ColorPalette.BrightColors", "Bright Colors"));
  const bool bright = mSelectedColor && ColorMatrix::brightColorMatrix()->colorWithName(mSelectedColor->name());
  mOwnThemeSelector->selectElement(bright ? 1 : 0);
  doChangeColorMatrix(bright);
}

void ColorSelectionTabView::ensureChildThemeSelectorContents() {
  // The pill being pressed may be the one removed here: it goes on the next turn, after its
  // own press handling has returned.
  platform::mainQueue().async([old = mChildThemeSelector->elements()] {});
  mChildThemeSelector->reset();
  if (!mUserHasClickedOnChildThemeDefinition) {
    mChildThemeSelector->addElement(upper("ChildThemeButton:Title", "Define child theme"));
    return;
  }
  mChildThemeSelector->addElement(upper("ThemeOption.NoChange", "No change"));
  mChildThemeSelector->addElement(upper("ThemeOption.Varying", "Varying"));
  mChildThemeSelector->addElement(upper("ThemeOption.SameColor", "Same color"));
}

void ColorSelectionTabView::doChangeColorMatrix(bool bright) {
  const auto& matrix = bright ? ColorMatrix::brightColorMatrix() : ColorMatrix::classicColorMatrix();
  if (mColorSelector) mColorSelector->removeFromSuperview();
  mColorSelector = std::make_shared<ColorMatrixView>(matrix);
  mColorSelector->setDelegate(this);
  mColorSelector->setFrameSizeForWidth(bounds().width());
  mColorSelector->setFrame(QRectF(QPointF(0, mChildThemeSelector->frame().y() - mColorSelector->frame().height()),
                                  mColorSelector->frame().size()));
  if (mSelectedColor && matrix->colorWithName(mSelectedColor->name())) mColorSelector->selectColor(mSelectedColor);
  addSubview(mColorSelector);
  forceDirtyLayout();
}

void ColorSelectionTabView::horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector, std::int64_t index) {
  if (&selector == mOwnThemeSelector.get()) {
    doChangeColorMatrix(index == 1);
  } else if (&selector == mChildThemeSelector.get()) {
    didSelectChildColorTheme(index);
  }
}

void ColorSelectionTabView::didSelectChildColorTheme(std::int64_t index) {
  if (!mUserHasClickedOnChildThemeDefinition) {
    if (index == 0) {
      mUserHasClickedOnChildThemeDefinition = true;
      ensureChildThemeSelectorContents();
      mChildThemeSelector->selectElement(0);
    }
  } else if (index >= 0 && index <= 2) {
    const bool recolor = index != 0;
    const ColorThemeType type = index == 0   ? mOriginalColorThemeType
                                : index == 1 ? ColorThemeTypeVaryingColors
                                             : ColorThemeTypeSameColor;
    if (ColorSelectionTabViewDelegate* d = delegate(); d && !d->mayChooseColors(mSelectedColor, type, recolor)) {
      // The selector shows the pressed rule already.
      setSelectedColorThemeType(mSelectedColorThemeType);
      return;
    }
    setDidRecolor(recolor);
    setSelectedColorThemeType(type);
  }
  if (ColorSelectionTabViewDelegate* d = delegate()) d->didMakeChanges();
}

void ColorSelectionTabView::handleColorSelection(const ColorPtr& color) {
  if (ColorSelectionTabViewDelegate* d = delegate();
      d && !d->mayChooseColors(color, mSelectedColorThemeType, mDidRecolor)) {
    mColorSelector->selectColor(mSelectedColor);
    return;
  }
  setSelectedColor(color);
  if (ColorSelectionTabViewDelegate* d = delegate()) d->didMakeChanges();
}

void ColorSelectionTabView::setSelectedColor(const ColorPtr& color) {
  if (color == mSelectedColor) return;
  mSelectedColor = color;
  mMainPlanetLayer->setBaseColor(color);
  mMainPlanetLayer->setNeedsDisplay();
  colorateChildPlanetsWith(themeForRule(mSelectedColorThemeType));
}

void ColorSelectionTabView::setSelectedColorThemeType(ColorThemeType type) {
  mSelectedColorThemeType = type;
  colorateChildPlanetsWith(themeForRule(type));
  if (!mUserHasClickedOnChildThemeDefinition) return;
  if (!mDidRecolor) {
    mChildThemeSelector->selectElement(0);
  } else if (type == ColorThemeTypeSameColor) {
    mChildThemeSelector->selectElement(2);
  } else if (type == ColorThemeTypeVaryingColors) {
    mChildThemeSelector->selectElement(1);
  }
}

void ColorSelectionTabView::setDidRecolor(bool recolor) {
  mDidRecolor = recolor;
  mSubPlanetLayer->setHidden(!recolor);
}

ColorThemePtr ColorSelectionTabView::themeForRule(ColorThemeType type) const {
  if (!mSelectedColor) return nullptr;
  if (type == ColorThemeTypeSameColor) {
    auto only = std::make_shared<ColorTheme>();
    only->addColor(mSelectedColor);
    return only;
  }
  return mSelectedColor->theme();
}

void ColorSelectionTabView::colorateChildPlanetsWith(const ColorThemePtr& theme) {
  const std::size_t count = theme ? theme->colors().size() : 0;
  for (std::size_t i = 0; i < mChildPlanetLayers.size(); ++i) {
    mChildPlanetLayers[i]->setBaseColor(count > 0 ? theme->colors()[i % count] : nullptr);
    mChildPlanetLayers[i]->setNeedsDisplay();
  }
}

void ColorSelectionTabView::applyLayout() {
  const double w = bounds().width();
  const double h = bounds().height();
  mChildThemeSelector->setFrame(QRectF(15, h - 52, w - 30, kSelectorHeight));
  mColorSelector->setFrameSizeForWidth(w);
  const double gridHeight = mColorSelector->frame().height();
  mColorSelector->setFrame(QRectF(0, mChildThemeSelector->frame().y() - gridHeight, w, gridHeight));
  mOwnThemeSelector->setFrame(QRectF(15, mColorSelector->frame().y() - kSelectorHeight, w - 30, kSelectorHeight));
  const double p = mOwnThemeSelector->frame().y();
  mSubPlanetLayer->setFrame(QRectF(0, 0, w, std::max(0.0, p)));
  for (int i = 0; i < kChildCount; ++i) {
    const double theta = (i * 60.0 - 60.0) * std::numbers::pi / 180.0;
    mChildPlanetLayers[i]->setPosition(
        QPointF(w / 2 + std::round(kChildOrbit * std::cos(theta)), p / 2 + std::round(kChildOrbit * std::sin(theta))));
  }
  mMainPlanetLayer->setPosition(QPointF(w / 2, p / 2));
  // Whole device pixels keep the preview sharp.
  const double scale = Globals::screenScale() > 0 ? Globals::screenScale() : 1;
  const QRectF f = mMainPlanetLayer->frame();
  mMainPlanetLayer->setFrame(QRectF(std::round(f.x() * scale) / scale, std::round(f.y() * scale) / scale, f.width(), f.height()));
  mMainPlanetLayer->setNeedsDisplay();
}

void ColorSelectionTabView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  painter.fillRect(dirtyRect, Qt::white);
}

}  // namespace orrery
