#include "editor_screen/solar_system_view_controller.h"

#include "foundation/globals.h"
#include "foundation/views/modal_choice_controller.h"
#include "model/idea_document.h"
#include "shell/my_window.h"
#include "shell/screen_factory.h"

namespace orrery {

namespace {
constexpr char kSwitchToHome[] = "SwitchToHomeViewAndNeverReturn";

bool isCloud(const std::shared_ptr<IdeaDocument>& doc) { return doc && isCloudLocation(doc->location()); }
}  // namespace

// Top bar: the content button's menu on the solar system, the mind-map toggle (pressed while
// the overview graph shows), the search field and, for cloud documents, the home button. The
// home screen comes from the shell's screen factory, which the home screen fills.

void SolarSystemViewController::ensureTopBarState() {
  if (!mTopBar) return;
  const bool graph = mSolarSystemState >= kSolarSystemStateGraph && mSolarSystemState <= kSolarSystemStateRadialSearch;
  mTopBar->setContentAction(mSolarSystemState == kSolarSystemStateRadial);
  if (graph) {
    mTopBar->setMindmapToggleAction(true, /*toggled=*/true);
  } else {
    mTopBar->setMindmapToggleAction(mSolarSystemState == kSolarSystemStateRadial, /*toggled=*/false);
    mTopBar->setCurrentSearchText(QString());
  }
  mTopBar->setHomeAction(isCloud(mDoc));
}

void SolarSystemViewController::topBarAction(TopBarActionKind kind, const QRectF& fromRect) {
  if (screenOccupied()) return;
  if (kind == kTopBarActionHome) pleaseSwitchToHomeView();
  if (kind == kTopBarActionMindmapToggle) cmdToggleMindmap();
  if (kind == kTopBarActionContent && mSolarSystemState == kSolarSystemStateRadial) {
    auto menu = ModalChoiceController::create();
    std::weak_ptr<SolarSystemViewController> weak = self();
    menu->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Add Image")), [weak] {
      if (auto me = weak.lock()) me->pleaseStartImageAddition();
    });
    menu->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Add Web Link")), [weak] {
      if (auto me = weak.lock()) me->pleaseStartWebLinkAddition();
    });
    menu->showModallyFromRect(fromRect, view().get());
  }
}

void SolarSystemViewController::pleaseSwitchToHomeView() {
  MyWindow* shell = shellWindow();
  const auto& makeHome = screenFactory().makeHome;
  if (!makeHome || !shell || screenOccupied()) return;
  // The document goes back: an edit not yet written is waited for, or asked about as at a close.
  if (!mDropUnsavedEdit && (mSavesInFlight > 0 || mLastSaveFailed)) {
    settleUnsavedEdit([weak = std::weak_ptr<SolarSystemViewController>(self())](bool mayGo) {
      if (auto me = weak.lock(); me && mayGo) me->pleaseSwitchToHomeView();
    });
    return;
  }
  // Never liberated: this controller is leaving its window.
  occupyScreen(QString::fromLatin1(kSwitchToHome));
  const DocumentLocation location = isCloud(mDoc) ? mDoc->location() : DocumentLocationICloud;
  auto home = makeHome(location, mTopBar ? mTopBar->currentSearchText() : QString());
  releaseDocumentOnce(nullptr, /*discardScratchFile=*/false);
  if (home) shell->switchToViewController(home, /*animated=*/true, [] {});
}

void SolarSystemViewController::topBarSearchStatusDidChange(bool /*changed*/) {
  if (!mTopBar) return;
  const bool empty = mTopBar->currentSearchText().isEmpty();
  const bool editing = mTopBar->isEditingSearchText();
  switch (mSolarSystemState) {
    case kSolarSystemStateRadial:
      if (!empty) pleaseSwitchToMindmapOrSearch(/*animated=*/true);
      else if (!editing) makeFirstResponder(mSolarSystem.get());
      return;
    case kSolarSystemStateGraph:
      updateGraphSearch();
      if (!empty) {
        mSolarSystemState = kSolarSystemStateGraphSearch;
        ensureTopBarState();
      } else if (!editing) {
        makeFirstResponder(mSolarSystem.get());
      }
      return;
    case kSolarSystemStateGraphSearch:
      updateGraphSearch();
      if (empty) {
        mSolarSystemState = kSolarSystemStateGraph;
        if (!editing) makeFirstResponder(mGraphScrollView.get());
        ensureTopBarState();
      }
      return;
    case kSolarSystemStateRadialSearch:
      if (empty) pleaseSwitchToSolarView();
      else updateGraphSearch();
      return;
    default: return;
  }
}

}  // namespace orrery
