#pragma once
// The colour tab of the idea edit popover: the idea's colour picked from the classic or the
// bright palette, and whether and how its children are recoloured. A preview shows the idea
// as a planet in the chosen colour and, while a recolouring is chosen, six child planets
// coloured by the chosen rule. The tab writes nothing into the idea; the edit panel reads the
// three selected values back. Main thread only.

#include "editor/planet_layer.h"
#include "foundation/views/base_view.h"
#include "foundation/views/horizontal_selector.h"
#include "model/color.h"
#include "model/color_theme.h"
#include "panels/color_matrix.h"
#include "panels/edit_idea_view_subordinate.h"
#include "platform/ui/weak_ref.h"

#include <array>
#include <memory>

namespace orrery {

class EditIdeaViewController;

class ColorSelectionTabViewDelegate : public virtual platform::Trackable {
 public:
  virtual void didMakeChanges() = 0;
  // Asked before a picked colour or child rule is taken; a refused one leaves all as it was.
  virtual bool mayChooseColors(const ColorPtr& /*color*/, ColorThemeType /*type*/, bool /*recolor*/) { return true; }
};

class ColorSelectionTabView : public BaseView,
                              public HorizontalSelectorDelegate,
                              public ColorMatrixViewDelegate,
                              public EditIdeaViewSubordinate {
 public:
  static constexpr double kPreferredHeight = 422;
  static constexpr double kSelectorHeight = 27;
  static constexpr double kChildOrbit = 60;
  static constexpr int kChildCount = 6;

  ColorSelectionTabView();
  ~ColorSelectionTabView() override;

  ColorSelectionTabViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ColorSelectionTabViewDelegate* delegate) { mDelegate.reset(delegate); }

  double currentPreferredHeight() const override { return kPreferredHeight; }
  // Takes the controller's current values. Only an initial load collapses the child-colouring
  // choice and takes the rule that "No change" restores: a later load (returning to the tab)
  // finds the controller already holding this tab's earlier choice.
  void reloadFrom(const EditIdeaViewController& controller, bool isInitialLoad) override;
  void activate() override;
  void deactivate() override {}

  const ColorPtr& selectedColor() const { return mSelectedColor; }
  void setSelectedColor(const ColorPtr& color);
  ColorThemeType selectedColorThemeType() const { return mSelectedColorThemeType; }
  void setSelectedColorThemeType(ColorThemeType type);
  bool didRecolor() const { return mDidRecolor; }
  void setDidRecolor(bool recolor);

  void handleColorSelection(const ColorPtr& color) override;
  void horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector, std::int64_t index) override;

  void applyLayout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

  const std::shared_ptr<HorizontalSelector>& childThemeSelector() const { return mChildThemeSelector; }
  const std::shared_ptr<HorizontalSelector>& ownThemeSelector() const { return mOwnThemeSelector; }
  const std::shared_ptr<ColorMatrixView>& colorSelector() const { return mColorSelector; }
  const std::shared_ptr<PlanetLayer>& mainPlanetLayer() const { return mMainPlanetLayer; }
  const std::array<std::shared_ptr<PlanetLayer>, kChildCount>& childPlanetLayers() const { return mChildPlanetLayers; }
  const std::shared_ptr<platform::Layer>& subPlanetLayer() const { return mSubPlanetLayer; }

 private:
  void ensureOwnThemeSelectorContents();
  void ensureChildThemeSelectorContents();
  void doChangeColorMatrix(bool bright);
  void didSelectChildColorTheme(std::int64_t index);
  ColorThemePtr themeForRule(ColorThemeType type) const;
  void colorateChildPlanetsWith(const ColorThemePtr& theme);

  std::shared_ptr<PlanetLayer> mMainPlanetLayer;
  std::array<std::shared_ptr<PlanetLayer>, kChildCount> mChildPlanetLayers;
  std::shared_ptr<HorizontalSelector> mChildThemeSelector;
  std::shared_ptr<HorizontalSelector> mOwnThemeSelector;
  std::shared_ptr<ColorMatrixView> mColorSelector;
  ColorThemeType mOriginalColorThemeType = ColorThemeTypeLighterColor;
  std::shared_ptr<platform::Layer> mSubPlanetLayer;
  bool mUserHasClickedOnChildThemeDefinition = false;
  bool mDidRecolor = false;
  ColorPtr mSelectedColor;
  ColorThemeType mSelectedColorThemeType = ColorThemeTypeLighterColor;
  platform::WeakRef<ColorSelectionTabViewDelegate> mDelegate;
};

}  // namespace orrery
