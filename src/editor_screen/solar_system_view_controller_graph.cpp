// The editor's overview-graph share: the states that show the graph (2 the graph, 3 search
// results entered from it, 4 search results entered from the radial view), the switches and
// their cross-fade, the search filter, the graph's choices and Escape.

#include "editor_screen/solar_system_view_controller.h"

#include "foundation/animator.h"
#include "foundation/application_delegate.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/globals.h"
#include "model/idea_document.h"
#include "platform/ui/responder.h"
#include "platform/ui/window.h"
#include "shell/top_bar_view.h"

namespace orrery {

namespace {

constexpr char kAnimatingSwitch[] = "AnimatingSwitch";
constexpr float kSwitchSeconds = 0.4f;
constexpr float kFramesPerSecond = 60;

}  // namespace

void SolarSystemViewController::registerGraphCommands() {
  setActionHandler(QStringLiteral("cmdToggleMindmap"), [this](const platform::ActionSender&) { cmdToggleMindmap(); });
  setActionHandler(platform::Actions::cancelOperation, [this](const platform::ActionSender&) { cancelOperation(); });
}

void SolarSystemViewController::makeFirstResponder(platform::View* view) {
  if (platform::Window* window = myWindow(); window && view) window->makeFirstResponder(view);
}

GraphFilter SolarSystemViewController::graphFilterForSearch(const QString& text) {
  return [text](const IdeaSnapshotNode& idea) {
    if (text.isEmpty()) return true;
    // A link answers with its target's type and content; one without target has neither.
    if (idea.contentType != IdeaTypeText) return false;
    return idea.text.toLower().contains(text) || (idea.icon && idea.icon->symbol().contains(text));
  };
}

void SolarSystemViewController::updateGraphSearch() {
  if (!mGraphScrollView || !mRootIdea) return;
  const QString text = mTopBar ? mTopBar->currentSearchText() : QString();
  mGraphScrollView->setCurrentIdea(mRootIdea, text.isNull() ? GraphFilter() : graphFilterForSearch(text.toLower()));
}

void SolarSystemViewController::cmdToggleMindmap() {
  if (screenOccupied()) return;
  if (mSolarSystemState == kSolarSystemStateRadial)
    pleaseSwitchToMindmapOrSearch(/*animated=*/true);
  else if (mSolarSystemState >= kSolarSystemStateGraph && mSolarSystemState <= kSolarSystemStateRadialSearch)
    pleaseSwitchToSolarView();
}

void SolarSystemViewController::pleaseSwitchToMindmapOrSearch(bool animated) {
  if (screenOccupied() || !mOwnIdea || !isViewLoaded()) return;
  if (!mGraphScrollView) {
    mGraphScrollView = std::make_shared<GraphScrollView>();
    mGraphScrollView->setDelegate(this);
    mGraphScrollView->setHidden(true);
    if (mDeleteAreaView)
      view()->insertSubviewBelow(mGraphScrollView, mDeleteAreaView.get());
    else
      view()->addSubview(mGraphScrollView);
    applyLayout();
  }
  mSolarSystemState = mTopBar && mTopBar->hasSearchContent() ? kSolarSystemStateRadialSearch : kSolarSystemStateGraph;
  ensureTopBarState();
  updateGraphSearch();
  if (animated && mSolarSystem) {
    animateSwitch(mSolarSystem, mGraphScrollView);
  } else {
    if (mSolarSystem) {
      mSolarSystem->setAlphaValue(0);
      mSolarSystem->setHidden(true);
    }
    mGraphScrollView->setAlphaValue(1);
    mGraphScrollView->setHidden(false);
  }
  if (mSolarSystemState == kSolarSystemStateGraph) makeFirstResponder(mGraphScrollView.get());
}

void SolarSystemViewController::pleaseSwitchToSolarView() {
  if (screenOccupied() || !mGraphScrollView || !mSolarSystem) return;
  if (mTopBar && mTopBar->hasSearchContent()) return;
  animateSwitch(mGraphScrollView, mSolarSystem);
  mSolarSystemState = kSolarSystemStateRadial;
  ensureTopBarState();
  if (!mTopBar || !mTopBar->isEditingSearchText()) makeFirstResponder(mSolarSystem.get());
}

void SolarSystemViewController::animateSwitch(const std::shared_ptr<platform::View>& from,
                                              const std::shared_ptr<platform::View>& to) {
  occupyScreen(QString::fromLatin1(kAnimatingSwitch));
  to->setAlphaValue(0);
  to->setHidden(false);
  if (mSwitchAnimator) mSwitchAnimator->deactivate();
  mSwitchAnimator = Animator::create(kSwitchSeconds, kFramesPerSecond);
  std::weak_ptr<platform::View> weakFrom = from, weakTo = to;
  std::weak_ptr<SolarSystemViewController> weak = self();
  mSwitchAnimator->play([weak, weakFrom, weakTo](Animator& animator) {
    auto me = weak.lock();
    auto source = weakFrom.lock();
    auto target = weakTo.lock();
    const float progress = animator.progress();
    const double p = Animator::cubicEaseOut(progress);
    if (source) source->setAlphaValue(1 - p);
    if (target) target->setAlphaValue(p);
    if (progress < 1) return;
    if (source) source->setHidden(true);
    if (target) target->setHidden(false);
    if (me) me->liberateScreen(QString::fromLatin1(kAnimatingSwitch));
  });
}

void SolarSystemViewController::onIdeaSelected(const IdeaPtr& idea) {
  if (!mSolarSystem || !mSolarSystem->userInteractionEnabled()) return;
  // The graph may have been built on a tree an outside change has since replaced: the choice
  // is the idea of that identifier in the tree the document holds now.
  const IdeaPtr current = idea && mRootIdea ? mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier()) : nullptr;
  if (current) switchToIdea(current, /*animated=*/false);
  if (mGraphScrollView && mSolarSystem) animateSwitch(mGraphScrollView, mSolarSystem);
  mSolarSystemState = kSolarSystemStateRadial;
  ensureTopBarState();
  makeFirstResponder(mSolarSystem.get());
}

void SolarSystemViewController::openIdeaInNewWindow(const IdeaPtr& idea) {
  if (!idea || !mDoc) return;
  if (ApplicationDelegate* app = Globals::app()) app->openDocumentInNewWindow(mDoc->docIdentifier(), idea->identifier());
}

void SolarSystemViewController::makeSearch(const QString& text) {
  if (text.isEmpty()) return;
  view();
  addViewsIfPossible();
  if (!mTopBar) return;
  mTopBar->setCurrentSearchText(text);
  pleaseSwitchToMindmapOrSearch(/*animated=*/false);
}

void SolarSystemViewController::cancelOperation() {
  if (mTopBar && mTopBar->isEditingSearchText()) return;
  switch (mSolarSystemState) {
    case kSolarSystemStateRadial:
      if (mOwnIdea && mOwnIdea->parent()) onDrillUp();
      return;
    case kSolarSystemStateGraph:
      pleaseSwitchToSolarView();
      return;
    case kSolarSystemStateGraphSearch:
      // Emptying the field does not report to us: back to the unfiltered graph here.
      if (mTopBar) mTopBar->setCurrentSearchText(QString());
      mSolarSystemState = kSolarSystemStateGraph;
      updateGraphSearch();
      ensureTopBarState();
      return;
    case kSolarSystemStateRadialSearch:
      if (mTopBar) mTopBar->setCurrentSearchText(QString());
      pleaseSwitchToSolarView();
      return;
    default: return;
  }
}

}  // namespace orrery
